// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- tones through the PC-speaker input device, else
// through ALSA's default device, else silence that keeps the tone's length.
#include "platform/Tone.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#ifdef QUORRIN_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#include "platform/Clock.h"

namespace platform {

namespace {

int64_t NowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Sleeps until `deadlineNs` on the monotonic clock, however early the output
// returned.
void WaitUntil(int64_t deadlineNs) {
    for (;;) {
        const int64_t left = deadlineNs - NowNs();
        if (left <= 0) return;
        timespec step{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
        ::nanosleep(&step, nullptr);
    }
}

bool TestBit(const unsigned long* bits, unsigned bit) {
    constexpr unsigned perWord = sizeof(unsigned long) * 8;
    return (bits[bit / perWord] >> (bit % perWord)) & 1UL;
}

// An input device that takes EV_SND/SND_TONE: the pcspkr driver's.
bool IsToneDevice(int fd) {
    unsigned long types[(EV_MAX + 1 + sizeof(unsigned long) * 8 - 1) / (sizeof(unsigned long) * 8)] = {};
    unsigned long sounds[(SND_MAX + 1 + sizeof(unsigned long) * 8 - 1) / (sizeof(unsigned long) * 8)] = {};
    if (::ioctl(fd, EVIOCGBIT(0, sizeof types), types) < 0 || !TestBit(types, EV_SND)) return false;
    if (::ioctl(fd, EVIOCGBIT(EV_SND, sizeof sounds), sounds) < 0) return false;
    return TestBit(sounds, SND_TONE);
}

std::vector<std::string> Entries(const std::string& folder, const std::string& suffixOrPrefix, bool prefix) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const bool matches = prefix ? name.rfind(suffixOrPrefix, 0) == 0
                                    : name.size() >= suffixOrPrefix.size() &&
                                          name.compare(name.size() - suffixOrPrefix.size(),
                                                       suffixOrPrefix.size(), suffixOrPrefix) == 0;
        if (matches) found.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

int OpenPcSpeaker() {
    std::vector<std::string> candidates = Entries("/dev/input/by-path", "-event-spkr", false);
    for (const auto& path : Entries("/dev/input", "event", true)) candidates.push_back(path);
    for (const auto& path : candidates) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) continue;
        if (IsToneDevice(fd)) return fd;
        ::close(fd);
    }
    return -1;
}

bool SendTone(int fd, unsigned frequencyHz) {
    input_event event{};
    event.type = EV_SND;
    event.code = SND_TONE;
    event.value = static_cast<int>(frequencyHz);
    return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

#ifdef QUORRIN_HAVE_ALSA
constexpr unsigned SampleRate = 48000;

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

snd_pcm_t* OpenSoundCard() {
    snd_lib_error_set_handler(QuietAlsa);
    snd_pcm_t* pcm = nullptr;
    // Non-blocking open: a device that is busy or absent must not hang the
    // caller; the writes afterwards block so that a tone keeps its length.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return nullptr;
    if (snd_pcm_nonblock(pcm, 0) < 0 ||
        snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, SampleRate, 1, 50000) <
            0) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return pcm;
}

void PlayOnSoundCard(snd_pcm_t* pcm, unsigned frequencyHz, int durationMs) {
    const std::size_t frames =
        static_cast<std::size_t>(SampleRate) * static_cast<unsigned>(durationMs) / 1000;
    std::vector<int16_t> samples(frames);
    // A square wave, as the speaker makes, softened by a 1 ms ramp at both
    // ends so that short tones do not click.
    const std::size_t ramp = std::min<std::size_t>(SampleRate / 1000, frames / 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double phase = std::fmod(static_cast<double>(i) * frequencyHz / SampleRate, 1.0);
        double level = phase < 0.5 ? 0.25 : -0.25;
        if (ramp > 0) {
            const std::size_t edge = std::min(i, frames - 1 - i);
            if (edge < ramp) level *= static_cast<double>(edge) / static_cast<double>(ramp);
        }
        samples[i] = static_cast<int16_t>(level * 32767.0);
    }
    if (snd_pcm_prepare(pcm) < 0) return;
    std::size_t done = 0;
    while (done < frames) {
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, samples.data() + done, frames - done);
        if (written < 0) {
            if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) return;
            continue;
        }
        done += static_cast<std::size_t>(written);
    }
    snd_pcm_drain(pcm);
}
#endif

// The output, chosen at the first tone and kept open for the process's life.
struct Output {
    ToneOutput kind = ToneOutput::Silent;
    int speakerFd = -1;
#ifdef QUORRIN_HAVE_ALSA
    snd_pcm_t* pcm = nullptr;
#endif
    std::mutex playing;  // one tone at a time on the one device
};

Output& TheOutput() {
    static Output* output = [] {
        auto* chosen = new Output();
        chosen->speakerFd = OpenPcSpeaker();
        if (chosen->speakerFd >= 0) {
            chosen->kind = ToneOutput::PcSpeaker;
            return chosen;
        }
#ifdef QUORRIN_HAVE_ALSA
        chosen->pcm = OpenSoundCard();
        if (chosen->pcm != nullptr) chosen->kind = ToneOutput::SoundCard;
#endif
        return chosen;
    }();
    return *output;
}

}  // namespace

ToneOutput CurrentToneOutput() {
    return TheOutput().kind;
}

void PlayTone(unsigned frequencyHz, int durationMs) {
    if (durationMs <= 0) return;
    const int64_t deadline = NowNs() + static_cast<int64_t>(durationMs) * 1000000;
    if (frequencyHz == 0) {
        WaitUntil(deadline);
        return;
    }
    Output& output = TheOutput();
    {
        std::lock_guard<std::mutex> hold(output.playing);
        switch (output.kind) {
            case ToneOutput::PcSpeaker:
                if (SendTone(output.speakerFd, frequencyHz)) {
                    WaitUntil(deadline);
                    SendTone(output.speakerFd, 0);
                }
                break;
            case ToneOutput::SoundCard:
#ifdef QUORRIN_HAVE_ALSA
                PlayOnSoundCard(output.pcm, frequencyHz, durationMs);
#endif
                break;
            case ToneOutput::Silent:
                break;
        }
    }
    WaitUntil(deadline);
}

void SilentWait(int durationMs) {
    SleepMs(durationMs);
}

}  // namespace platform
