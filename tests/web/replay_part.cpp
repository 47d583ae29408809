// Writes a copy of a replay whose every move left is a move right: a file that reads well and
// plays, but parts from its game where the first such input changes the play. The browser tests
// watch it.
// usage: replay_part IN OUT
#include <cstdio>

#include "core/controls/settings.h"
#include "replay/format.h"
#include "replay/playback.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: replay_part IN OUT\n");
        return 2;
    }
    std::string error;
    auto data = replay::LoadReplay(argv[1], error);
    if (!data) {
        std::fprintf(stderr, "replay_part: %s\n", error.c_str());
        return 1;
    }
    replay::Replay altered = *data;
    altered.stream.clear();
    replay::EventReader events(data->stream);
    replay::Event e;
    bool changed = false;
    while (events.Next(e)) {
        if (e.kind == replay::Event::Input && (e.a & 1 << kdv::MoveLeft)) {
            e.a ^= 1 << kdv::MoveLeft | 1 << kdv::MoveRight;
            changed = true;
        }
        replay::AppendEvent(altered.stream, e);
    }
    if (!changed) {
        std::fprintf(stderr, "replay_part: the replay never moves left\n");
        return 1;
    }
    if (!replay::SaveReplay(argv[2], altered, error)) {
        std::fprintf(stderr, "replay_part: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
