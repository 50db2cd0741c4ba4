#include "platform/rtl/Exceptions.h"

#include "platform/rtl/SysUtils.h"

EAssertionFailed::EAssertionFailed(std::string text, std::string fileName, int line)
    : Exception(Format(Msg::AssertError, text, fileName, line)), text_(std::move(text)),
      fileName_(std::move(fileName)), line_(line) {}

EZeroDivide::EZeroDivide() : EMathError(Msg::ZeroDivide) {}
EInvalidOp::EInvalidOp() : EMathError(Msg::InvalidOp) {}
EOverflow::EOverflow() : EMathError(Msg::Overflow) {}
EOutOfMemory::EOutOfMemory() : Exception(Msg::OutOfMemory) {}
EInvalidPointer::EInvalidPointer() : Exception(Msg::InvalidPointer) {}
EReadError::EReadError() : EStreamError(Msg::ReadError) {}
EWriteError::EWriteError() : EStreamError(Msg::WriteError) {}

EFCreateError EFCreateError::ForFile(const std::string& fileName) {
    return EFCreateError(Format(Msg::FCreateError, fileName));
}

EFOpenError EFOpenError::ForFile(const std::string& fileName) {
    return EFOpenError(Format(Msg::FOpenError, fileName));
}
