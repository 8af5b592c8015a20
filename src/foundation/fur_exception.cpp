#include "foundation/fur_exception.h"

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

const char* furExceptionDebugSetting() {
    return g_debugSettingSet ? debugSetting().c_str() : nullptr;
}
