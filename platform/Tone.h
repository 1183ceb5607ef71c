// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- one tone of a given pitch and length, on whatever
// can sound it here, or a silent wait of the same length.
#pragma once

namespace platform {

enum class ToneOutput { PcSpeaker, SoundCard, Silent };

// The output chosen at the first tone (PC-speaker input device, then the
// default sound card, then silence); it stays for the process's life.
ToneOutput CurrentToneOutput();

// Plays frequencyHz for durationMs and returns when the tone has ended; it
// never returns sooner than durationMs, whichever output is in use. Frequency
// 0 with duration 0 plays nothing and returns at once; frequency 0 with a
// duration is a silent wait.
void PlayTone(unsigned frequencyHz, int durationMs);

// Waits durationMs without a sound.
void SilentWait(int durationMs);

}  // namespace platform
