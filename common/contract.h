// Names the setup, the installed program and its uninstaller must spell
// alike: each is looked up by another process, often of another version.
#pragma once

// A manual-reset event in the global namespace, made by the setup with
// rights that let everyone wait on it. Signalled, it asks every running
// meter of any session to exit; the setup resets and closes it once its
// wait for them is over.
constexpr char ExitEventName[] = "Global\\KelvraExitEvent";
