// The window's texts that say, in French, what a change did, would do, or
// why it cannot be read: made from the core's results, shown by the handlers.
#pragma once

#include <cstdint>
#include <string>

#include "change.h"
#include "patcher.h"
#ifdef CHRONELLE_HAVE_MATCH
#include "match.h"
#endif

namespace chronelle::ui {

constexpr const char* SeveralFilesText = "Un seul fichier à la fois : aucun n'a été pris";
constexpr const char* NoLineToMoveText = "Erreur : aucun sous-titre concerné";

// The words of a step of a shift or of listening.
const char* stageText(Stage stage);

// "Modification du sous-titres réussie", and how many times were held, at
// which end: " : 2 temps ramenés à 00:00:00,000".
std::string successText(std::int64_t held, HeldEnds ends);

// Why the form cannot be read, for the bar.
std::string problemText(FormProblem problem);

// What a dry run found: the count, the first and last lines that would
// change with their line numbers, as they are and as they would be, and the
// times that would be held; or why it failed.
std::string previewText(const PatchResult& result, HeldEnds ends);

#ifdef CHRONELLE_HAVE_MATCH
constexpr const char* NoSureText = "Aucun décalage sûr trouvé";

// What listening to a film and matching the subtitles with it came to.
struct Heard {
    bool stopped = false;  // "Arrêter l'écoute" was pressed
    // Why the film (or the well-timed subtitles) could not be used.
    ReferenceFailure reference = ReferenceFailure::None;
    SoundFailure sound = SoundFailure::None;
    CuesFailure cues = CuesFailure::None;  // the subtitles being fixed
    Found found;
    bool shown = false;  // the window's controls hold what was found
};

// "Écoute de la vidéo… 42 %"
std::string listeningText(double fraction);

// For the bar: what was found, in French ("Décalage trouvé : 2,480 s plus
// tôt, sûr à 92 %"), or why nothing was.
std::string heardText(const Heard& heard);
#endif

}  // namespace chronelle::ui
