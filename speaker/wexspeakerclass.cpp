// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin speaker -- the Warble, Error and Done patterns and the process's
// one speaker object.
#include "speaker/wexspeakerclass.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "platform/Tone.h"

namespace {

// The platform's sink: a tone on whatever can sound it, a pause as a wait.
class PlatformToneSink : public ToneSink {
public:
    void Beep(unsigned frequencyHz, int durationMs) override { platform::PlayTone(frequencyHz, durationMs); }
    void Pause(int durationMs) override { platform::SilentWait(durationMs); }
};

std::atomic<ToneSink*> replacementSink{nullptr};

constexpr int LowestFrequency = 37;  // the lowest Beep accepts

}  // namespace

std::unique_ptr<wexspeakerclass> Speaker;

void SetToneSink(ToneSink* sink) {
    replacementSink.store(sink);
}

ToneSink& CurrentToneSink() {
    static PlatformToneSink platformSink;
    ToneSink* sink = replacementSink.load();
    return sink != nullptr ? *sink : platformSink;
}

// The 0 Hz, 0 ms requests make and release nothing audible; they are kept
// so that every sink sees the object's life.
wexspeakerclass::wexspeakerclass() {
    CurrentToneSink().Beep(0, 0);
}

wexspeakerclass::~wexspeakerclass() {
    CurrentToneSink().Beep(0, 0);
}

void wexspeakerclass::Tone(int frequency, int duration) {
    if (Silenced) return;
    if (frequency < LowestFrequency) frequency = LowestFrequency;
    // A negative length would be a wait of weeks once taken as unsigned.
    if (duration < 0) duration = 0;
    CurrentToneSink().Beep(static_cast<uint16_t>(frequency), duration);
}

void wexspeakerclass::Warble() {
    if (Silenced) return;
    Tone(100, 50);
    Tone(250, 10);
}

void wexspeakerclass::ErrorSound() {
    if (Silenced) return;
    Warble();
    CurrentToneSink().Pause(100);
    Warble();
}

void wexspeakerclass::DoneSound() {
    if (Silenced) return;
    Tone(880, 100);
    Tone(1320, 100);
    Tone(1760, 100);
    Tone(2200, 100);
}

void CreateSpeaker() {
    Speaker.reset(new (std::nothrow) wexspeakerclass());
}

void DestroySpeaker() {
    Speaker.reset();
}

void BeepDone() {
    if (!Speaker) CreateSpeaker();
    if (Speaker) Speaker->DoneSound();
}

void BeepError() {
    if (!Speaker) CreateSpeaker();
    if (Speaker) Speaker->ErrorSound();
}
