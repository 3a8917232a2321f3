#include "platform/errors.h"

#include <cstring>

namespace parevo {

std::string DescribeIoFailure(const std::string& action, const std::string& path, int errorNumber) {
    return action + " \"" + path + "\": " + std::strerror(errorNumber);
}

void ThrowIoError(const std::string& action, const std::string& path, int errorNumber) {
    throw IoError(DescribeIoFailure(action, path, errorNumber));
}

}  // namespace parevo
