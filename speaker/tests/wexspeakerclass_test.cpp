// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the beep patterns through a recording sink: the exact tones,
// pauses and their order, the 37 Hz floor, Silenced, and the speaker object's
// creation on demand.
#include "speaker/wexspeakerclass.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// One request to the sink: a tone (frequency, length) or a pause.
struct Step {
    bool pause;
    unsigned frequency;
    int duration;
    bool operator==(const Step&) const = default;
};

Step T(unsigned frequency, int duration) {
    return {false, frequency, duration};
}
Step P(int duration) {
    return {true, 0, duration};
}

std::ostream& operator<<(std::ostream& out, const Step& step) {
    if (step.pause) return out << "pause " << step.duration;
    return out << step.frequency << " Hz " << step.duration << " ms";
}

class RecordingSink : public ToneSink {
public:
    void Beep(unsigned frequencyHz, int durationMs) override { steps.push_back(T(frequencyHz, durationMs)); }
    void Pause(int durationMs) override { steps.push_back(P(durationMs)); }
    std::vector<Step> steps;
};

const std::vector<Step> Warble = {T(100, 50), T(250, 10)};
const std::vector<Step> Error = {T(100, 50), T(250, 10), P(100), T(100, 50), T(250, 10)};
const std::vector<Step> Done = {T(880, 100), T(1320, 100), T(1760, 100), T(2200, 100)};
const Step Silent = T(0, 0);

class SpeakerTest : public testing::Test {
protected:
    void SetUp() override {
        DestroySpeaker();
        SetToneSink(&sink);
    }
    void TearDown() override {
        DestroySpeaker();
        SetToneSink(nullptr);
    }
    RecordingSink sink;
};

TEST_F(SpeakerTest, ObjectLifeIssuesOneSilentRequestAtEachEnd) {
    {
        wexspeakerclass speaker;
        EXPECT_FALSE(speaker.Silenced);
        EXPECT_EQ(sink.steps, std::vector<Step>{Silent});
    }
    EXPECT_EQ(sink.steps, (std::vector<Step>{Silent, Silent}));
}

TEST_F(SpeakerTest, PatternsPlayTheirTonesAndPausesInOrder) {
    struct Case {
        const char* name;
        void (wexspeakerclass::*play)();
        const std::vector<Step>& expected;
    };
    const Case cases[] = {
        {"Warble", &wexspeakerclass::Warble, Warble},
        {"ErrorSound", &wexspeakerclass::ErrorSound, Error},
        {"DoneSound", &wexspeakerclass::DoneSound, Done},
    };
    for (const Case& c : cases) {
        wexspeakerclass speaker;
        sink.steps.clear();
        (speaker.*c.play)();
        EXPECT_EQ(sink.steps, c.expected) << c.name;
    }
}

TEST_F(SpeakerTest, ToneRaisesLowFrequenciesAndPassesSixteenBits) {
    struct Case {
        int frequency;
        int duration;
        Step expected;
    };
    const Case cases[] = {
        {36, 20, T(37, 20)},
        {0, 20, T(37, 20)},
        {-500, 5, T(37, 5)},
        {37, 20, T(37, 20)},
        {38, 20, T(38, 20)},
        {65535, 1, T(65535, 1)},
        {65536 + 440, 1, T(440, 1)},
        // A negative length would otherwise become a wait of weeks.
        {440, -1, T(440, 0)},
    };
    wexspeakerclass speaker;
    for (const Case& c : cases) {
        sink.steps.clear();
        speaker.Tone(c.frequency, c.duration);
        EXPECT_EQ(sink.steps, std::vector<Step>{c.expected}) << c.frequency << " " << c.duration;
    }
}

TEST_F(SpeakerTest, SilencedMakesNoOperationSound) {
    wexspeakerclass speaker;
    speaker.Silenced = true;
    sink.steps.clear();
    speaker.Tone(440, 100);
    speaker.Warble();
    speaker.ErrorSound();
    speaker.DoneSound();
    EXPECT_TRUE(sink.steps.empty());
}

TEST_F(SpeakerTest, BeepCallsCreateTheSpeakerWhenThereIsNone) {
    ASSERT_FALSE(Speaker);
    BeepDone();
    ASSERT_TRUE(Speaker);
    std::vector<Step> expected = {Silent};
    expected.insert(expected.end(), Done.begin(), Done.end());
    EXPECT_EQ(sink.steps, expected);

    DestroySpeaker();
    EXPECT_FALSE(Speaker);
    sink.steps.clear();
    BeepError();
    BeepError();  // two failures in a row: two patterns, one object
    ASSERT_TRUE(Speaker);
    expected = {Silent};
    expected.insert(expected.end(), Error.begin(), Error.end());
    expected.insert(expected.end(), Error.begin(), Error.end());
    EXPECT_EQ(sink.steps, expected);
}

TEST_F(SpeakerTest, BeepCallsUseTheExistingSpeakerAndHonourItsSilence) {
    CreateSpeaker();
    ASSERT_TRUE(Speaker);
    Speaker->Silenced = true;
    sink.steps.clear();
    BeepDone();
    BeepError();
    EXPECT_TRUE(sink.steps.empty());
}

TEST_F(SpeakerTest, DestroySpeakerWithoutOneDoesNothing) {
    DestroySpeaker();
    DestroySpeaker();
    EXPECT_FALSE(Speaker);
    EXPECT_TRUE(sink.steps.empty());
}

TEST_F(SpeakerTest, CreateSpeakerReplacesAnEarlierObject) {
    CreateSpeaker();
    CreateSpeaker();
    EXPECT_TRUE(Speaker);
    // Two made, the first of them destroyed.
    EXPECT_EQ(sink.steps, (std::vector<Step>{Silent, Silent, Silent}));
}

}  // namespace
