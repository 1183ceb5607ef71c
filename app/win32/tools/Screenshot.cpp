// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin -- the picture of the Windows window: starts quorrin.exe in a fresh
// folder, presses its button, and writes the window as it then looks into a
// PNG (the one argument; docs/screenshot-windows.png by default).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/win32/tools/ProgramDriver.h"

using namespace programdriver;

namespace {

uint32_t Crc32(const uint8_t* data, std::size_t size, uint32_t crc = 0) {
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBig32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void Chunk(std::vector<uint8_t>& png, const char type[5], const std::vector<uint8_t>& data) {
    PutBig32(png, static_cast<uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBig32(png, Crc32(png.data() + start, png.size() - start));
}

// RGB rows, top first, as a PNG whose zlib stream uses stored blocks only.
std::vector<uint8_t> Png(int width, int height, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(y) * width * 3;
        raw.insert(raw.end(), row, row + width * 3);
    }
    std::vector<uint8_t> z{0x78, 0x01};
    for (std::size_t at = 0; at < raw.size() || at == 0;) {
        const std::size_t size = std::min<std::size_t>(65535, raw.size() - at);
        const bool last = at + size == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(size));
        z.push_back(static_cast<uint8_t>(size >> 8));
        z.push_back(static_cast<uint8_t>(~size));
        z.push_back(static_cast<uint8_t>(~size >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
        if (last) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(z, (b << 16) | a);

    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBig32(header, static_cast<uint32_t>(width));
    PutBig32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    return png;
}

// The window with its frame, as it is on the screen.
bool Capture(HWND window, int& width, int& height, std::vector<uint8_t>& rgb) {
    RECT outer{};
    GetWindowRect(window, &outer);
    width = outer.right - outer.left;
    height = outer.bottom - outer.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC windowDc = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // Another process's window cannot draw into this one's device context
    // (PrintWindow under wine leaves it blank), so its pixels are copied.
    HDC screen = GetDC(nullptr);
    const bool done = BitBlt(memory, 0, 0, width, height, screen, outer.left, outer.top, SRCCOPY) != FALSE;
    ReleaseDC(nullptr, screen);
    GdiFlush();
    rgb.resize(static_cast<std::size_t>(width) * height * 3);
    const auto* bgra = static_cast<const uint8_t*>(bits);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
        rgb[i * 3] = bgra[i * 4 + 2];
        rgb[i * 3 + 1] = bgra[i * 4 + 1];
        rgb[i * 3 + 2] = bgra[i * 4];
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, windowDc);
    return done;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string output = argc > 1 ? argv[1] : "screenshot-windows.png";
    Program program(FreshFolder("quorrin-screenshot-"));
    if (!program.Started()) {
        std::fprintf(stderr, "quorrin.exe did not start\n");
        return 1;
    }
    HWND memo = nullptr;
    if (!WaitFor([&] {
            AnswerBoxes(program.Id());
            memo = program.Memo();
            return memo != nullptr && TextOf(memo).find("Press the") != std::string::npos;
        })) {
        std::fprintf(stderr, "the window did not become ready\n");
        return 1;
    }
    PostMessageA(program.Button(), BM_CLICK, 0, 0);
    if (!WaitFor([&] {
            AnswerBoxes(program.Id());
            const std::string text = TextOf(memo);
            return !text.empty() && text.find("Press the") == std::string::npos;
        })) {
        std::fprintf(stderr, "no report appeared\n");
        return 1;
    }
    SetForegroundWindow(program.Window());
    // Let the caption clock and the repaint after the sniff settle.
    WaitFor([&] { return !AnswerBoxes(program.Id()).empty(); }, 1000);
    HWND window = program.Window();
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(300);
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    if (!Capture(window, width, height, rgb)) {
        std::fprintf(stderr, "the window could not be captured\n");
        return 1;
    }
    const std::vector<uint8_t> png = Png(width, height, rgb);
    FILE* file = std::fopen(output.c_str(), "wb");
    if (file == nullptr || std::fwrite(png.data(), 1, png.size(), file) != png.size()) {
        std::fprintf(stderr, "cannot write %s\n", output.c_str());
        return 1;
    }
    std::fclose(file);
    PostMessageA(window, WM_CLOSE, 0, 0);
    WaitFor([&] {
        AnswerBoxes(program.Id());
        return program.Ended();
    });
    std::printf("%s: %dx%d\n", output.c_str(), width, height);
    return 0;
}
