#pragma once

#include <QDeadlineTimer>

// Waits for `events` (poll(2) flags) on `fd` until `deadline`; false on timeout or error. The
// compositor sources use it so that no answer is ever waited for past their time limit.
bool waitForDescriptor(int fd, short events, const QDeadlineTimer &deadline);
