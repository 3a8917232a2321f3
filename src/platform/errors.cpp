#include "platform/errors.h"

#include <cstring>

namespace parevo {

std::string DescribeIoFailure(const std::string& action, const std::string& path, int errorNumber) {
    return DescribeIoFailure(action, path, std::string(std::strerror(errorNumber)));
}

std::string DescribeIoFailure(const std::string& action, const std::string& path,
                              const std::string& reason) {
    return action + " \"" + path + "\": " + reason;
}

void ThrowIoError(const std::string& action, const std::string& path, int errorNumber) {
    throw IoError(DescribeIoFailure(action, path, errorNumber));
}

}  // namespace parevo
