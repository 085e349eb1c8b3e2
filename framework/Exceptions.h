// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// The program's own error objects. Command handlers let them pass; the application-level
// handler (TApplication::HandleException) shows Message in a message box. Messages are 8-bit
// texts like every other text of the program.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// A text that is not a number where one is required.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be opened for reading ("Cannot open file %s").
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be created or emptied for writing ("Cannot create file %s").
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// No printer, or one that cannot be used.
class EPrinter : public Exception {
public:
    using Exception::Exception;
};

// The system refused a resource (a thread, memory for a text).
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// The text an error shows: Message for our exceptions, what() for other standard exceptions,
// and the empty text for anything else (nothing is known about it). An empty pointer also
// gives the empty text.
std::string ExceptionMessage(const std::exception_ptr& error);

// A signed 32-bit number in decimal, or in hexadecimal after "$" or "0x", with an optional
// sign and optional leading spaces. Anything else, or a value outside the 32-bit range, raises
// EConvertError "'<text>' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);
