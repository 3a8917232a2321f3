#pragma once
// Error types that travel up to the front end; what() is the text the user sees.

#include <stdexcept>
#include <string>

namespace parevo {

class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A file could not be opened, read, created or written. The text names the file
// and the system's reason.
class IoError : public Error {
  public:
    using Error::Error;
};

// Builds `<action> "<path>": <reason>` with the reason for the given errno value.
std::string DescribeIoFailure(const std::string& action, const std::string& path, int errorNumber);
// The same with a reason of our own.
std::string DescribeIoFailure(const std::string& action, const std::string& path,
                              const std::string& reason);

// The reason given for a FIFO, device or socket where a file is to be read.
inline constexpr const char* kNotARegularFile = "not a regular file";
// The reasons a ROM is not written after its search: what was found holds only
// for the file as it was searched.
inline constexpr const char* kChangedWhileSearched = "the file changed while it was searched";
inline constexpr const char* kReplacedWhileSearched =
    "another file took its place while it was searched";

// Throws IoError with DescribeIoFailure(action, path, errorNumber).
[[noreturn]] void ThrowIoError(const std::string& action, const std::string& path, int errorNumber);

}  // namespace parevo
