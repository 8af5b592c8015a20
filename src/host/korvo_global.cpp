#include "host/korvo_global.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

KorvoGlobal::CommandSink& currentSink() {
    static KorvoGlobal::CommandSink sink;  // empty: the default sink
    return sink;
}

}  // namespace

KorvoStatus KorvoGlobal::executeCommand(const KorvoString& command, bool /*displayEnabled*/,
                                        bool /*undoEnabled*/) {
    // A copy, so that a sink may replace itself while it runs.
    const KorvoGlobal::CommandSink sink = currentSink();
    if (sink)
        sink(command.asChar());
    else
        defaultCommandSink(command.asChar());
    return KorvoStatus();
}

KorvoGlobal::CommandSink KorvoGlobal::setCommandSink(CommandSink sink) {
    CommandSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

void KorvoGlobal::defaultCommandSink(const char* command) {
    static const char kPrefix[] = "print \"";
    const std::size_t prefixLength = sizeof(kPrefix) - 1;
    if (command == nullptr || std::strncmp(command, kPrefix, prefixLength) != 0) return;

    // The text runs from the opening quote to the last quote of the command
    // (texts are not escaped, so they may hold quotes of their own).
    const char* text = command + prefixLength;
    std::size_t length = std::strlen(text);
    const char* closing = std::strrchr(text, '"');
    if (closing != nullptr) length = static_cast<std::size_t>(closing - text);
    // The trailing backslash-n asks the host for the line end.
    if (length >= 2 && text[length - 2] == '\\' && text[length - 1] == 'n') length -= 2;

    std::fwrite(text, 1, length, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
