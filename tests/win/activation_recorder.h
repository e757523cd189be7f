#pragma once
// A stand-in for the Explorer activation, linked into the watcher's tests in
// place of explorer/activate.cpp: it records every call (path, thread,
// apartment, time) instead of searching for shell windows, and can hold a
// call until the test releases it, to keep the worker busy on purpose, or
// make a call into another apartment that the test's object answers.

#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct RecordedActivation {
    std::wstring path;
    DWORD threadId;
    APTTYPE apartment;  // the calling thread's apartment kind
    std::chrono::steady_clock::time_point started;
    std::wstring item;  // the item to select; empty for none
};

namespace recorder {

// Forgets every call, any hold and the answer by focus rule.
void Reset();

// From now on a change's activation answers as the real one does after
// its search: held back (quietly, not to disturb) unless the focus rule
// read then takes the focus, and naming window as the folder's. Until
// then every activation answers shown.
void AnswerByFocusRule(HWND window = nullptr);

// The next call for path (compared exactly) waits inside the activation
// until Release; after 20 s the test fails and the call goes on.
void HoldNextActivationOf(const std::wstring& path);
// True once a held call has started waiting.
bool WaitUntilHeld(std::chrono::milliseconds timeout);
void Release();

// The next call for path waits up to timeout as the real activation waits
// between its searches: until the stop event it was given is set, or for
// the whole time when it was given none.
void WaitInNextActivationOf(const std::wstring& path, std::chrono::milliseconds timeout);

// The next call for path calls GetWindow on the IOleWindow marshalled in
// stream (taking the stream), as the real activation calls into Explorer.
void CallIntoNextActivationOf(const std::wstring& path, IStream* stream);

std::vector<RecordedActivation> Calls();
std::vector<std::wstring> Paths();
// Number of calls that have returned.
std::size_t Finished();

// True once at least count calls have started.
bool WaitForCalls(std::size_t count, std::chrono::milliseconds timeout);
// Waits until no call has started for quiet; false after timeout.
bool WaitForQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout);

}  // namespace recorder
