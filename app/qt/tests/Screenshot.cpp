// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- draws the window after a sniff of the demo bus into
// a PNG (docs/screenshot.png). Run it under a real X server, e.g. xvfb-run.
#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/qt/TMainForm.h"
#include "app/shell/ProgramLife.h"
#include "app/shell/RealShellServices.h"
#include "driver/testing/TestBus.h"
#include "speaker/wexspeakerclass.h"

namespace {

class Silent : public ToneSink {
public:
    void Beep(unsigned, int) override {}
    void Pause(int) override {}
};

// A guard of its own, so a running Quorrin does not stop the picture.
class PictureServices : public RealShellServices {
public:
    bool AlreadyRunning() override { return ::AlreadyRunning("QuorrinScreenshot_" + std::to_string(::getpid())); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorrin-screenshot OUTPUT.png\n");
        return 2;
    }
    const std::string output = std::filesystem::absolute(argv[1]).string();
    QApplication application(argc, argv);
    try {
        std::ifstream in(std::string(QUORRIN_SOURCE_DIR) + "/examples/demo-bus.json");
        std::ostringstream json;
        json << in.rdbuf();
        TestBus bus(json.str());
        bus.Use();

        const auto folder = std::filesystem::temp_directory_path() / ("quorrin-shot-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
        Silent silent;
        SetToneSink(&silent);
        PictureServices services;
        bool saved = false;
        {
            TMainForm form(services);
            form.show();
            if (!QTest::qWaitFor([&] { return form.Model().Started; }, 30000)) {
                std::fprintf(stderr, "quorrin-screenshot: the window did not finish its post-show step\n");
                return 1;
            }
            QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("ButtonSniff")), Qt::LeftButton);
            QTest::qWait(500);
            saved = form.grab().save(QString::fromStdString(output), "PNG");
            form.close();
        }
        SetToneSink(nullptr);
        std::filesystem::current_path("/");
        std::filesystem::remove_all(folder);
        if (!saved) {
            std::fprintf(stderr, "quorrin-screenshot: could not write %s\n", output.c_str());
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorrin-screenshot: %s\n", e.what());
        return 1;
    }
}
