#pragma once

// Ends the event loop (QCoreApplication::quit) on SIGINT or SIGTERM, so a
// program stopped from a shell or a service manager still shuts down in
// order and saves its settings.
void QuitOnTerminationSignals();
