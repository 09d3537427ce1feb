// Whether the window library would find a display: the check made before it is started, so a
// start without one ends with a line and status 1 instead of the library's abort.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "gui/WindowProgram.h"
#include "platform/Text.h"

namespace ab {
namespace {

TEST(SemTela, DisplayVariablesForThePlatformTheLibraryWouldPick) {
    struct Case {
        std::map<std::string, std::string> ambiente;
        const char* falta;  // what the line names, or nullptr when a window can open
    } cases[] = {
        {{}, "DISPLAY e WAYLAND_DISPLAY vazios"},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, "DISPLAY e WAYLAND_DISPLAY vazios"},
        {{{"DISPLAY", ":0"}}, nullptr},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, nullptr},
        {{{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":1"}}, nullptr},
        // Platforms that draw without a display.
        {{{"QT_QPA_PLATFORM", "offscreen"}}, nullptr},
        {{{"QT_QPA_PLATFORM", "minimal"}}, nullptr},
        // The named platform's own display is needed, not the other one.
        {{{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}},
         "QT_QPA_PLATFORM=xcb sem DISPLAY"},
        {{{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}},
         "QT_QPA_PLATFORM=wayland sem WAYLAND_DISPLAY"},
        {{{"QT_QPA_PLATFORM", "wayland-egl"}, {"WAYLAND_DISPLAY", "w"}}, nullptr},
        // A list is tried in turn; options follow a colon.
        {{{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":0"}}, nullptr},
        {{{"QT_QPA_PLATFORM", "xcb:nograb"}, {"DISPLAY", ":0"}}, nullptr},
        {{{"QT_QPA_PLATFORM", "wayland;xcb"}}, "QT_QPA_PLATFORM=wayland;xcb sem DISPLAY"},
    };
    for (const Case& c : cases) {
        std::string traco;
        for (const auto& [k, v] : c.ambiente)
            traco += k + "=" + v + " ";
        SCOPED_TRACE(traco);
        const std::string linha = ToUtf8(SemTela([&](const char* nome) -> const char* {
            const auto it = c.ambiente.find(nome);
            return it == c.ambiente.end() ? nullptr : it->second.c_str();
        }));
        if (c.falta == nullptr) {
            EXPECT_EQ(linha, "");
        } else {
            EXPECT_NE(linha.find(c.falta), std::string::npos) << linha;
            EXPECT_NE(linha.find("use --sem-janela"), std::string::npos) << linha;
        }
    }
}

}  // namespace
}  // namespace ab
