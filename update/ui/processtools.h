#pragma once

// Starts the voice-chat client after an update.
class ProcessTools
{
public:
    // Starts the client's run script in the installation directory as one program, with
    // no shell in between (so a path with spaces or shell characters stays one path).
    // A failure to start is not reported.
    static void startVx5Client();
};
