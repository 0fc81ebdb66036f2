#include "engine/OpeningBook.h"

#include "engine/Solver.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

int TOpeningBook::Move(const TPosition& position) const
{
    const std::optional<int> value = Score(position);
    if (!value)
        return -1;
    for (int col : TSolver::kCentreOut) {
        if (!position.CanPlay(col))
            continue;
        if (position.IsWinningMove(col))
            return col;
        TPosition child = position;
        child.Play(col);
        if (Score(child) == -*value)
            return col;
    }
    return -1;
}

TOpeningBook LoadOpeningBook(std::string_view programDir)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> candidates;
    if (const char* env = std::getenv("TESSARO_BOOK"))
        candidates.emplace_back(env);
    const fs::path dir(programDir);
    candidates.push_back(dir / "../share/games/tessaro/opening-book.bin");
    candidates.push_back(dir / "opening-book.bin");
#ifdef TESSARO_SOURCE_BOOK
    candidates.emplace_back(TESSARO_SOURCE_BOOK);
#endif
    TOpeningBook book;
    for (const auto& path : candidates)
        if (book.Load(path.string()))
            break;
    return book;
}
