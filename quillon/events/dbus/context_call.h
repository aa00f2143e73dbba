#pragma once

#include <glib.h>

#include <functional>

namespace quillon
{

// Runs `fn` with `context` owned by the running thread and pushed as its
// thread-default context, so that GIO attaches what `fn` creates (signal
// subscriptions, name watches, proxies' owner tracking) to `context`, and no
// callback dispatched on `context` runs at the same time as `fn`.
//
// When no thread iterates `context` (or the caller is that thread) `fn` runs
// at once on the caller. Otherwise it runs on the iterating thread and the
// caller waits for it; if that thread stops iterating before it got there,
// the caller takes the context over and runs `fn` itself. Never call it for a
// context whose iterating thread waits for the caller.
void runOnContext(GMainContext* context, const std::function<void()>& fn);

// When no thread iterates `context` (any more), dispatches what is pending
// on it: GIO frees a signal subscription's data in a source of the context
// it was made on, which would otherwise be lost with the context.
void drainContext(GMainContext* context);

// The context of quillon's D-Bus thread: a process-wide main-loop thread
// (started on first use) for proxies created by threads that iterate no
// context of their own, such as the bus dispatch thread.
GMainContext* dbusThreadContext();

} // namespace quillon
