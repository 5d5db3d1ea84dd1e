#pragma once

#include <stdexcept>
#include <string>

namespace visa {

// Every failure of the I/O layer arrives as this exception. Its text is meant
// for the person at the bench: it names what went wrong and, where there is
// one, what to do about it ("Permission denied opening /dev/ttyUSB0: add your
// user to the dialout group").
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& description) : std::runtime_error(description) {}
    std::string description() const { return what(); }
};

// The library a user named in an environment variable (VANTREL_VISA_LIBRARY)
// cannot be used. Unlike a missing system library, this is not a reason to
// fall back to the next resource manager: the user asked for that library.
class ChosenLibraryError : public Error {
public:
    using Error::Error;
};

} // namespace visa
