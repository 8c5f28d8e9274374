#pragma once

#include <QString>

#include <functional>

namespace failurereport {

// Shows a failure to the user. The window holds one; tests replace it to read the text.
using FailureReport = std::function<void(const QString &message)>;

// The application's failure report: a modal critical box with an empty title and one OK
// button, over the active window, its text the message after failureText(). Shows nothing
// once the application is shutting down.
void showFailureBox(const QString &message);

// Runs a handler body; any exception it raises ends it there and becomes one report, so that
// no exception ever crosses Qt's event loop.
void guarded(const FailureReport &report, const std::function<void()> &body);

} // namespace failurereport
