#pragma once
// Opening the card file without a silent wait: the open runs on a worker thread while the event
// loop stays live, and an open that takes long shows a window naming the file, with 中止.

#include <QString>

#include <chrono>
#include <functional>

namespace openwait {

enum class Outcome { Done, Stopped };

// How long an open may take before the waiting window shows: ten seconds, or the milliseconds in
// TAVRONA_OPEN_WAIT_MS (for tests).
std::chrono::milliseconds patience();

// Runs open on a worker thread and waits for it with the event loop running. After patience the
// waiting window names shownFile and offers 中止. Returns Done when open ended (its failure is
// thrown here, on the caller's thread), Stopped when the user pressed 中止 or the program is being
// ended; open may then still be running, and the caller ends the process without waiting for it.
Outcome runWhileWaiting(const QString& shownFile, const std::function<void()>& open,
                        std::chrono::milliseconds wait = patience());

}  // namespace openwait
