// An operator's report build: what became of the run, told to the built-in report URL in at
// most two small GETs (chosen then end, or cancelled alone). A report never changes what the
// player sees: no text, no dialog, no retry, and the program waits for its reports at most 2 s
// in all, with its windows already gone.
#pragma once
#include <cstdint>

// What the end report tells beside its outcome and the installer's bytes, in the report's
// order: the discovery's and the download's times in ms, the failing request's HTTP status, the
// failing call's error code, the installer's requests. Written on the UI thread (the worker's
// values once it has ended), read when the report is sent.
enum Fact { kDiscoverMs, kDownloadMs, kHttp, kError, kAttempts, kFactCount };
extern std::uint32_t Facts[kFactCount];

// The report of the player's choice (the download window opens), of a cancelled chooser, or of
// the end: the final message's number (3, 4, 5 or 7), or 0 when the installer has been started.
// Each on a thread of its own; call them on the UI thread. After an end or a cancel, and after
// two reports in all, nothing more is sent.
void ReportChosen();
void ReportCancelled();
void ReportEnd(unsigned message);
// The facts as they happen: a clock's first call notes the tick, its second the time since, in
// ms; the error code of the call that just failed.
void Clock(Fact which);
void NoteError();
// Waits for the reports under way, at most 2 s; then the program may end, and a report still
// waiting on the network ends with it.
void FinishReports();
