// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin speaker -- the Done and Error beep patterns.
#pragma once

#include <memory>

// Where tones go. The platform picks a real sink (PC speaker, sound card, or
// a silent wait); tests record what would have sounded.
class ToneSink {
public:
    virtual ~ToneSink() = default;
    // Plays one tone and returns when it has ended. Frequency 0 with duration
    // 0 is the silent request the speaker object issues when it is made and
    // destroyed.
    virtual void Beep(unsigned frequencyHz, int durationMs) = 0;
    // A silent wait between tones.
    virtual void Pause(int durationMs) = 0;
};

// The sink every speaker object uses. nullptr restores the platform's.
void SetToneSink(ToneSink* sink);
ToneSink& CurrentToneSink();

class wexspeakerclass {
public:
    wexspeakerclass();
    ~wexspeakerclass();
    wexspeakerclass(const wexspeakerclass&) = delete;
    wexspeakerclass& operator=(const wexspeakerclass&) = delete;

    void Tone(int frequency, int duration);
    void Warble();
    void ErrorSound();
    void DoneSound();

    bool Silenced = false;
};

extern std::unique_ptr<wexspeakerclass> Speaker;

void CreateSpeaker();
void DestroySpeaker();
void BeepDone();
void BeepError();
