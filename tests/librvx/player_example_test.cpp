// The SDL2 player of examples/ as its users build it: against the installed
// library and SDL2 only, through pkg-config. Without a screen or sound card
// SDL's dummy drivers stand in, and the player stops after a few pictures.

#include <gtest/gtest.h>

#include <fstream>

#include "cli/run_program.h"
#include "common/temp_dir.h"
#include "librvx/movie_maker.h"
#include "rvxlib/format/format_word.h"
#include "snxlib/snx_format.h"

TEST(PlayerExample, BuildsAgainstTheInstalledLibraryAndPlaysWholeAndCutMovies) {
    TempDir prefix("player-prefix");
    const std::string install = "cmake --install " + ShellQuoted(RVX_BINARY_DIR) + " --prefix " +
                                ShellQuoted(prefix.path().string()) + " --component ";
    ASSERT_EQ(RunCommand(install + "library").exit_code, 0);
    ASSERT_EQ(RunCommand(install + "development").exit_code, 0);
    const std::string player = prefix / "rvx-player";
    const ProgramResult built = RunCommand(
        std::string(RVX_C_COMPILER) + " -std=c99 -Wall -Wextra -pedantic -Werror " + RVX_C_SANITIZE + " " +
        ShellQuoted(std::string(RVX_SOURCE_DIR) + "/examples/player/player.c") + " -o " + ShellQuoted(player) +
        " $(PKG_CONFIG_PATH=" + ShellQuoted(prefix / "lib/pkgconfig") + " pkg-config --cflags --libs rvx sdl2)");
    ASSERT_EQ(built.exit_code, 0) << built.output;

    TempDir dir("player");
    MovieShape shape{_rvxlib_::kPictureYUV411, _rvxlib_::kTransformWordDct};
    shape.frames = 12;
    shape.sound_mode = _snxlib_::kModeMDCTLow;
    const std::string movie = dir / "movie.rvx";
    ASSERT_TRUE(MakeMovie(shape, dir.path(), movie));
    // The same movie without its last quarter.
    const std::vector<uint8_t> bytes = FileBytes(movie);
    const std::string cut = dir / "cut.rvx";
    std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size() * 3 / 4));

    // SDL keeps its drivers' memory to the end of the process: not ours to judge.
    const std::string run = "ASAN_OPTIONS=detect_leaks=0 SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy LD_LIBRARY_PATH=" +
                            ShellQuoted(prefix / "lib") + " " + ShellQuoted(player) + " ";
    for (const std::string& path : {movie, cut}) {
        SCOPED_TRACE(path);
        const ProgramResult played = RunCommand(run + ShellQuoted(path) + " --frames 5");
        EXPECT_EQ(played.exit_code, 0) << played.output;
        EXPECT_NE(played.output.find("5 pictures shown"), std::string::npos) << played.output;
    }
    const ProgramResult missing = RunCommand(run + ShellQuoted(dir / "absent.rvx"));
    EXPECT_EQ(missing.exit_code, 1) << missing.output;
}
