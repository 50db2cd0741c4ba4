// Exception classes of the run-time and class library, with their message texts.
#pragma once

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Assert failures carry the failed text, the source file and the line.
class EAssertionFailed : public Exception {
public:
    EAssertionFailed(std::string text, std::string fileName, int line);
    const std::string& Text() const noexcept { return text_; }
    const std::string& FileName() const noexcept { return fileName_; }
    int Line() const noexcept { return line_; }

private:
    std::string text_;
    std::string fileName_;
    int line_;
};

class EMathError : public Exception {
public:
    using Exception::Exception;
};
class EZeroDivide : public EMathError {
public:
    EZeroDivide();
};
class EInvalidOp : public EMathError {
public:
    EInvalidOp();
};
class EOverflow : public EMathError {
public:
    EOverflow();
};
class EOutOfMemory : public Exception {
public:
    EOutOfMemory();
};
// A release the memory manager refused: freed twice, or not one of its blocks.
class EInvalidPointer : public Exception {
public:
    EInvalidPointer();
};
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
class EInvalidCast : public Exception {
public:
    using Exception::Exception;
};
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// Graphics.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};
class EInvalidGraphicOperation : public Exception {
public:
    using Exception::Exception;
};
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// Streams and files.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EReadError : public EStreamError {
public:
    EReadError();
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    EWriteError();
    using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
    // Names the file that could not be created.
    static EFCreateError ForFile(const std::string& fileName);
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    static EFOpenError ForFile(const std::string& fileName);
    using EStreamError::EStreamError;
};
class EListError : public Exception {
public:
    using Exception::Exception;
};

namespace Msg {
inline constexpr const char* AssertError = "%s (%s, line %d)";
inline constexpr const char* ZeroDivide = "Floating point division by zero";
inline constexpr const char* InvalidOp = "Invalid floating point operation";
inline constexpr const char* Overflow = "Floating point overflow";
inline constexpr const char* OutOfMemory = "Out of memory";
inline constexpr const char* InvalidPointer = "Invalid pointer operation";
inline constexpr const char* InvalidBitmap = "ビットマップイメージが不正です";
inline constexpr const char* ReadError = "Stream read error";
inline constexpr const char* WriteError = "Stream write error";
inline constexpr const char* FCreateError = "ファイル %s を作成できません";
inline constexpr const char* FOpenError = "ファイル %s は開けません";
inline constexpr const char* ListIndexError = "List index out of bounds (%d)";
inline constexpr const char* ScanLineError = "Scan line index out of range";
inline constexpr const char* InvalidPixelFormat = "Invalid pixel format";
inline constexpr const char* UnknownExtension = "Unknown picture file extension (.%s)";
inline constexpr const char* AssignError = "Cannot assign a %s to a %s";
inline constexpr const char* BitmapTooLarge = "Bitmap is too large";
} // namespace Msg
