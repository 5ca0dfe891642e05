// Requests from outside to end or to pause the process while it holds an
// interactive terminal: on POSIX the termination signals (SIGTERM, SIGINT,
// SIGQUIT, SIGHUP) and the job-control stop (SIGTSTP) and continue
// (SIGCONT); a console control handler can raise the same requests on
// Windows. The handlers only record what arrived; the host's main loop polls
// the requests, so that the terminal is given back by the same code as a
// normal close, never from inside a handler.
#pragma once

namespace lumora::platform {

// Starts recording the requests: installs the handlers, remembering what was
// there before. Watching nests: each call needs one stop_watching_requests.
// False when the handlers could not be installed.
bool watch_requests();
// Puts back what was there before the first watch_requests once the last
// watcher stops. A request recorded but not taken stays recorded.
void stop_watching_requests();

// The exit code a recorded termination request asks for (128 + the signal's
// number), or 0 when none arrived. Stays set once set.
int termination_exit_code();
// Takes a recorded stop request (the user asked to pause the process).
bool take_suspend_request();
// Takes a recorded continue (the process was stopped and runs again, by our
// own suspend or by anyone else's stop).
bool take_continue_request();
// Stops the process as a stop request asks, and returns once it is continued.
// A process nobody could continue (an orphaned process group) is not stopped.
void suspend_until_continued();

}  // namespace lumora::platform
