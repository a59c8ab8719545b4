// The French texts of the outcomes: the bar after a change, a form that
// cannot be read, and the preview.
#include "texts.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace chronelle::ui {

namespace {

// "à 00:00:00,000", "à 99:59:59,999", or both.
std::string heldAt(HeldEnds ends)
{
    if (ends.low && ends.high)
        return "à 00:00:00,000 ou 99:59:59,999";
    return ends.high ? "à 99:59:59,999" : "à 00:00:00,000";
}

std::string failureText(Failure failure)
{
    switch (failure) {
    case Failure::Open:
    case Failure::NotRegular: return "Erreur : le fichier ne peut pas être ouvert";
    case Failure::Busy: return "Erreur : un autre programme modifie ce fichier";
    case Failure::Changed: return "Erreur : le fichier a changé pendant la lecture";
    case Failure::NoLineToMove: return NoLineToMoveText;
    default: return "Erreur";
    }
}

}  // namespace

const char* stageText(Stage stage)
{
    switch (stage) {
    case Stage::Opening: return "Ouverture du fichier";
    case Stage::Modifying: return "Modification du fichier sous-titres";
    case Stage::Closing: return "Fermeture du fichier";
    case Stage::Succeeded: return "Modification du sous-titres réussie";
    case Stage::Failed: return "Erreur";
    case Stage::Listening: break;
    }
    return "Écoute de la vidéo…";
}

std::string successText(std::int64_t held, HeldEnds ends)
{
    std::string text = stageText(Stage::Succeeded);
    if (held == 0)
        return text;
    return text + " : " + std::to_string(held) + (held == 1 ? " temps ramené " : " temps ramenés ") +
           heldAt(ends);
}

std::string problemText(FormProblem problem)
{
    switch (problem) {
    case FormProblem::Time: return "Temps illisible : écrire par exemple 41,3 ou 0:00:41,300";
    case FormProblem::Rate: return "Fréquence illisible : écrire par exemple 25 ou 23,976";
    case FormProblem::RatesTooFine: return "Fréquences trop précises : écrire par exemple 23,976";
    case FormProblem::SameShown: return "Les deux repères doivent être affichés à des temps différents";
    case FormProblem::Reversed: return "Ces repères inverseraient l'ordre des sous-titres";
    case FormProblem::UntilNotAfterFrom: return "« Avant » doit venir après « À partir de »";
    case FormProblem::CuesReversed: return "« au n° » doit être au moins « Du n° »";
    case FormProblem::None: break;
    }
    return "";
}

std::string previewText(const PatchResult& r, HeldEnds ends)
{
    if (!r.ok)
        return failureText(r.failure);
    std::int64_t n = r.changedLines;
    std::string text = n == 0   ? std::string("Aucun sous-titre ne serait modifié")
                       : n == 1 ? std::string("1 sous-titre serait modifié")
                                : std::to_string(n) + " sous-titres seraient modifiés";
    for (std::size_t i = 0; i < r.preview.size(); ++i) {
        if (i == PreviewLines && n > std::int64_t(r.preview.size()))
            text += "\n…";
        const LineChange& c = r.preview[i];
        text += "\nligne " + std::to_string(c.line) + " : " + c.before + " ⇒ " + c.after;
    }
    if (r.clampedTimes > 0)
        text += "\n" + std::to_string(r.clampedTimes) +
                (r.clampedTimes == 1 ? " temps serait ramené " : " temps seraient ramenés ") +
                heldAt(ends);
    return text;
}

#ifdef CHRONELLE_HAVE_MATCH

namespace {

// "2,480 s plus tôt": French numbers, a decimal comma.
std::string moved(std::int64_t ms)
{
    char text[64];
    std::snprintf(text, sizeof text, "%lld,%03d s %s", static_cast<long long>(std::llabs(ms) / 1000),
                  int(std::llabs(ms) % 1000), ms < 0 ? "plus tôt" : "plus tard");
    return text;
}

// "25 → 23,976 images/s": what the subtitles were timed for, and the film.
std::string rates(const Alignment& a)
{
    std::string text = std::string(FrameRates[a.from].name) + " → " + FrameRates[a.to].name + " images/s";
    for (char& c : text)
        c = c == '.' ? ',' : c;
    return text;
}

std::string soundText(SoundFailure failure)
{
    switch (failure) {
    case SoundFailure::NoAudio:
    case SoundFailure::NoSuchTrack: return "Cette vidéo n'a pas de son";
    case SoundFailure::Decoder: return "Le son de cette vidéo ne peut pas être décodé";
    case SoundFailure::Truncated: return "Vidéo tronquée : le son s'arrête avant la fin";
    case SoundFailure::Stopped: return "Écoute arrêtée : rien n'a été changé";
    case SoundFailure::NotRegular: return "Ce n'est pas un fichier vidéo : un dossier, un tube ou un périphérique";
    case SoundFailure::Open:
    case SoundFailure::None: break;
    }
    return "Vidéo illisible : ce fichier ne peut pas être lu comme une vidéo";
}

// Why the film, or the subtitles, gave nothing to match; empty when both
// could be used.
std::string unusableText(const Heard& heard)
{
    switch (heard.reference) {
    case ReferenceFailure::Sound: return soundText(heard.sound);
    case ReferenceFailure::Silent: return "Vidéo silencieuse : aucun décalage trouvé";
    case ReferenceFailure::NoSpeech: return "Aucune parole entendue dans cette vidéo";
    case ReferenceFailure::Cues: return "Sous-titres de référence illisibles";
    case ReferenceFailure::None: break;
    }
    if (heard.cues == CuesFailure::NoTimingLine)
        return NoLineToMoveText;
    if (heard.cues != CuesFailure::None)
        return "Erreur : le fichier sous-titres ne peut pas être lu";
    if (heard.found.alignment.fit == Fit::TooLong)
        return "Vidéo plus courte que les sous-titres : aucun décalage trouvé";
    if (heard.found.alignment.fit == Fit::TooFar)
        return "Aucun décalage de moins de " + std::to_string(MatchOptions().maxOffsetMs / 60000) +
               " minutes ne convient";
    return "";
}

// What was found, before the score.
std::string foundWords(const Found& f)
{
    const Alignment& a = f.alignment;
    switch (f.kind) {
    case ChangeKind::InTime: return "Sous-titres déjà synchronisés avec la vidéo";
    case ChangeKind::Offset: return "Décalage trouvé : " + moved(f.offsetMs);
    case ChangeKind::Rates: return "Décalage trouvé : " + rates(a);
    case ChangeKind::Pieces: return "Décalage trouvé : en plusieurs morceaux";
    case ChangeKind::Linear: break;
    }
    std::string first = moved(f.offsetMs) + " au premier sous-titre";
    if (a.from >= 0)
        return "Décalage trouvé : " + rates(a) + ", " + first;
    return "Décalage trouvé : " + first + ", " + moved(f.offsetMs + f.driftMs) + " au dernier";
}

}  // namespace

std::string listeningText(double fraction)
{
    return std::string(stageText(Stage::Listening)) + " " + std::to_string(int(std::lround(fraction * 100))) + " %";
}

std::string heardText(const Heard& heard)
{
    if (heard.stopped)
        return soundText(SoundFailure::Stopped);
    std::string unusable = unusableText(heard);
    if (!unusable.empty())
        return unusable;
    const Found& f = heard.found;
    if (!f.sure)
        return NoSureText;
    if (f.kind != ChangeKind::InTime && !heard.shown)
        return "Décalage trouvé, mais les réglages de la fenêtre ne peuvent pas le contenir";
    return foundWords(f) + ", sûr à " + std::to_string(int(std::lround(f.alignment.score * 100))) + " %";
}

#endif

}  // namespace chronelle::ui
