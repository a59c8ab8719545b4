// The window's words: what a change did or would do, why a file or a value
// is refused, what a film's sound told. Made from the core's codes and
// results, shown by the handlers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "change.h"
#include "cues.h"
#include "patcher.h"
#include "probe.h"
#ifdef CHRONELLE_HAVE_MATCH
#include "match.h"
#endif

namespace chronelle::ui {

constexpr const char* SeveralFilesText = "Un seul fichier à la fois : aucun n'a été pris";
constexpr const char* NothingChangesText = "Aucun sous-titre ne change : rien n'a été écrit";
constexpr const char* ChangedSincePreviewText =
    "Le fichier a changé depuis l'aperçu : rien n'a été écrit, voir l'aperçu à nouveau";
constexpr const char* LastCueText = "dernier";  // the last subtitle, in a number field

// The words of a step of a shift or of listening.
const char* stageText(Stage stage);

// "Modification du sous-titres réussie : 46 sous-titres décalés", then how
// many times were held, at which end (", 2 temps ramenés à 00:00:00,000").
std::string successText(std::int64_t changed, std::int64_t held, HeldEnds ends);

// Why a change failed, and how far it got.
std::string failureText(const PatchResult& result);

// Why a file was refused (`chosen`: a name was given at all).
std::string refusalText(const ProbeResult& probe, bool chosen);

// Why the form cannot be read.
std::string problemText(FormProblem problem);

// Why a value typed in the offset is not taken.
std::string typedText(TypedProblem problem);

// Above the table of "Aperçu": how many subtitles would change, and how many
// times would be held.
std::string previewSummary(const PatchResult& result, HeldEnds ends);

// The cells of that table: a start time as the file holds it, and the new
// one with the mark of a time held.
std::string startText(const std::string& line);
std::string newStartText(const LineChange& change);

// A cue's text on one line, in UTF-8 whatever the file's encoding.
std::string displayText(const std::string& text);

// Under a subtitle picked by number: "Début actuel : 0:00:20,000 « Bonjour »".
std::string currentText(const Cue& cue);

// A change as the controls hold it, in their words: "Retirer 2,480 s",
// "Conversion 25 → 23,976 puis Ajouter 2,651 s", "Synchroniser n° 1 à
// 0:00:22,500 et n° 46 à 0:41:08,900".
std::string changeWords(const ChangeForm& form);

#ifdef CHRONELLE_HAVE_MATCH
constexpr const char* NoSureText = "Aucun décalage sûr trouvé";
constexpr const char* StoppedText = "Écoute arrêtée : rien n'a été changé";

// What listening to a film and matching the subtitles with it came to.
struct Heard {
    // Why the film (or the well-timed subtitles) could not be used.
    ReferenceFailure reference = ReferenceFailure::None;
    SoundFailure sound = SoundFailure::None;
    CuesFailure cues = CuesFailure::None;  // the subtitles being fixed
    int tracks = 0;                        // the film's audio tracks
    std::int64_t maxOffsetMs = 0;          // how far it was searched
    Found found;
    // The change found, and its rivals, as the controls would hold them
    // (`formed`: they can).
    bool formed = false;
    ChangeForm form;
    std::vector<ChangeForm> rivals;
    bool shown = false;  // the window's controls hold what was found
};

// "Écoute de la vidéo… 42 %"
std::string listeningText(double fraction);

// "très sûr" or "sûr": how often a change found this sure is right.
const char* sureWords(double confidence);

// For the bar: what was found and filled in, in the words of the controls,
// and how sure it is; or why nothing was, and what to try.
std::string heardText(const Heard& heard);
#endif

}  // namespace chronelle::ui
