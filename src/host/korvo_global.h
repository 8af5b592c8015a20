// Host script commands.
//
// Inside a host application a command runs in its script interpreter. Here
// commands go to a command sink. The default sink understands one command,
//   print "<text>\n"
// which it writes as the line <text> to standard output; every other command
// (the progress commands, for instance) is ignored. A host or a test installs
// its own sink to receive every command verbatim.
#pragma once

#include <functional>

#include "host/korvo_string.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class KorvoGlobal {
  public:
    // Receives each command as its NUL-terminated text.
    using CommandSink = std::function<void(const char* command)>;

    // Runs a host script command. displayEnabled (echo) and undoEnabled have
    // no meaning outside the host. The status is success once the sink ran.
    static KorvoStatus executeCommand(const KorvoString& command, bool displayEnabled = false,
                                      bool undoEnabled = false);

    // Installs a sink and returns the previous one; an empty function
    // reinstalls the default sink.
    static CommandSink setCommandSink(CommandSink sink);

    // The default sink: prints the text of a print command as one line.
    static void defaultCommandSink(const char* command);
};

KORVO_EXPORT_END
