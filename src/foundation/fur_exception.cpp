#include "foundation/fur_exception.h"

#include <cstdlib>

namespace {

bool g_debugSettingRead = false;
const char* g_debugSetting = nullptr;

// Every constructor passes through here; the first one reads the setting.
void exceptionHook() {
    if (!g_debugSettingRead) {
        g_debugSettingRead = true;
        g_debugSetting = std::getenv("FUREXCEPTION");
    }
}

}  // namespace

FurException::FurException(const char* text) : text_(text) {
    exceptionHook();
}

FurException::~FurException() = default;

KorvoString FurException::message() const {
    return text_;
}

KorvoString FurEStatus::message() const {
    return status_.errorString();
}

void furRaiseMatrixError(const char* text) {
    throw FurEMatrix(text);
}

const char* furExceptionDebugSetting() {
    return g_debugSetting;
}
