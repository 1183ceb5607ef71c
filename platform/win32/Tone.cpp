// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- tones through Beep, which returns when the tone
// has ended; a refused tone is made up for with a silent wait.
#include "platform/Tone.h"

#include <windows.h>

#include <cstdint>

namespace platform {

namespace {

// Beep returns early when it has nothing to sound on; the rest of the length
// is waited out so that the patterns keep their timing.
// The performance counter, not the coarse tick count, so that a wait never
// ends sooner than asked.
int64_t NowUs() {
    LARGE_INTEGER value{}, frequency{};
    ::QueryPerformanceCounter(&value);
    ::QueryPerformanceFrequency(&frequency);
    return value.QuadPart / frequency.QuadPart * 1000000 + value.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

void WaitUntil(int64_t deadlineUs) {
    for (int64_t now = NowUs(); now < deadlineUs; now = NowUs())
        ::Sleep(static_cast<DWORD>((deadlineUs - now + 999) / 1000));
}

}  // namespace

ToneOutput CurrentToneOutput() {
    return ToneOutput::PcSpeaker;
}

void PlayTone(unsigned frequencyHz, int durationMs) {
    if (durationMs <= 0) return;
    const int64_t deadline = NowUs() + int64_t{durationMs} * 1000;
    if (frequencyHz != 0) ::Beep(static_cast<DWORD>(frequencyHz), static_cast<DWORD>(durationMs));
    WaitUntil(deadline);
}

void SilentWait(int durationMs) {
    if (durationMs <= 0) return;
    WaitUntil(NowUs() + int64_t{durationMs} * 1000);
}

}  // namespace platform
