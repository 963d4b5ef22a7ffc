#pragma once
// Which characters of a stored text can become a given character of a folded text. The folded
// search uses it to let the database engine pass over cards that cannot match.

#include <QString>

#include <optional>
#include <vector>

namespace search {

// Every character whose fold holds c (c itself among them when it folds to itself).
std::vector<char32_t> foldSources(char32_t c);

// What a stored text must hold for its fold to hold a folded keyword: one after another, a
// source of each character of a run of the keyword (a source that folds to that character
// alone), or somewhere a character that folds to several characters, one of them in the run.
//
// The run holds only characters that composition never makes and that never take part in it
// (no voiced kana, accented letters, marks or Hangul syllables), so each of them comes from one
// stored character of its own and nothing stands between them. Folding makes no character
// vanish, so a text whose fold holds the keyword holds the run as this says.
struct HeldRun {
    std::vector<std::vector<char32_t>> run;  // sources, one set a character of the run
    std::vector<char32_t> expanding;         // characters folding to several, one of them in the run

    // Whether a stored text holds what this asks; the engine is asked the same with
    // similarToPattern(), which this mirrors.
    bool heldBy(const QString& stored) const;
    // The pattern for SIMILAR TO ... ESCAPE '\' that a text matches when it holds this.
    QString similarToPattern() const;
};

// The run of up to a few characters of the folded keyword that the engine checks most cheaply,
// among its longest ones; nothing when the keyword holds no character that a run can take.
std::optional<HeldRun> heldRun(const QString& foldedKeyword);

}  // namespace search
