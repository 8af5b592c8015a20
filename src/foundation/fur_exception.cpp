#include "foundation/fur_exception.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool g_debugSettingRead = false;
bool g_debugSettingSet = false;

// A copy, since the environment may change after the first exception; held in
// a function-local static so that an exception built during static
// initialisation finds it constructed.
std::string& debugSetting() {
    static std::string setting;
    return setting;
}

// Every constructor passes through here; the first one reads the setting.
void exceptionHook() {
    if (!g_debugSettingRead) {
        g_debugSettingRead = true;
        if (const char* value = std::getenv("FUREXCEPTION")) {
            debugSetting() = value;
            g_debugSettingSet = true;
        }
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

void furConsoleLine(const char* format, std::va_list args) {
    std::vprintf(format, args);
    std::fflush(stdout);
}

const char* furExceptionDebugSetting() {
    return g_debugSettingSet ? debugSetting().c_str() : nullptr;
}
