// The French texts of the window's outcomes, refusals and findings.
#include "texts.h"

#include <glib.h>

#include <cmath>

#include "duration.h"

namespace chronelle::ui {

namespace {

// "à 00:00:00,000", "à 99:59:59,999", or both.
std::string heldAt(HeldEnds ends)
{
    if (ends.low && ends.high)
        return "à 00:00:00,000 ou 99:59:59,999";
    return ends.high ? "à 99:59:59,999" : "à 00:00:00,000";
}

// "46 sous-titres décalés": a count and its noun, singular or plural.
std::string count(std::int64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "2,480 s", "1 min 2,480 s", "1 h 0 min 2,480 s": the offset as the spin
// buttons hold it.
std::string duration(const Shift& d)
{
    std::string text;
    if (d.h > 0)
        text = std::to_string(d.h) + " h ";
    if (d.h > 0 || d.m > 0)
        text += std::to_string(d.m) + " min ";
    return text + formatSeconds(d.s * 1000 + d.ms, ',') + " s";
}

std::string offsetWords(const ChangeForm& f)
{
    return std::string(f.add ? "Ajouter " : "Retirer ") + duration(f.offset);
}

bool noOffset(const Shift& d) { return d.h == 0 && d.m == 0 && d.s == 0 && d.ms == 0; }

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

std::string successText(std::int64_t changed, std::int64_t held, HeldEnds ends)
{
    std::string text = std::string(stageText(Stage::Succeeded)) + " : " +
                       count(changed, "sous-titre décalé", "sous-titres décalés");
    if (held > 0)
        text += ", " + count(held, "temps ramené ", "temps ramenés ") + heldAt(ends);
    return text;
}

std::string failureText(const PatchResult& r)
{
    // After a failure that left its first lines shifted, how many: a second
    // press would shift those twice.
    if (r.partlyWritten)
        return r.timingLines == 1 ? "Erreur : seul le premier sous-titre a été décalé"
                                  : "Erreur : seuls les " + std::to_string(r.timingLines) +
                                        " premiers sous-titres ont été décalés";
    switch (r.failure) {
    case Failure::Open:
    case Failure::NotRegular: return "Erreur : le fichier ne peut pas être ouvert";
    case Failure::Busy: return "Erreur : un autre programme modifie ce fichier";
    case Failure::Changed: return "Erreur : le fichier a changé pendant la lecture";
    case Failure::NoLineToMove: return "Erreur : aucun sous-titre concerné";
    default: return stageText(Stage::Failed);
    }
}

std::string refusalText(const ProbeResult& p, bool chosen)
{
    if (!chosen)
        return "Aucun fichier choisi";
    switch (p.kind) {
    case PathKind::Missing: return "Ce fichier n'existe pas ou plus";
    case PathKind::Directory: return "C'est un dossier, pas un fichier sous-titres";
    case PathKind::Other: return "Ce n'est pas un fichier ordinaire : un tube ou un périphérique";
    case PathKind::Regular: break;
    }
    if (!p.opened)
        return "Ce fichier ne peut pas être lu";
    if (p.utf16)
        return "Fichier en UTF-16 : l'enregistrer en UTF-8 pour le décaler";
    std::string lines = "parmi les " + std::to_string(ProbeLines) + " premières lignes";
    if (p.timingLines == 0)
        return "Pas un fichier SubRip : aucune ligne de temps " + lines;
    return "Pas un fichier SubRip : " + count(p.timingLines, "ligne de temps", "lignes de temps") +
           " seulement " + lines + ", il en faut " + std::to_string(ProbeRequired);
}

std::string problemText(FormProblem problem)
{
    switch (problem) {
    case FormProblem::Time: return "Temps illisible : écrire par exemple 41,3 ou 0:00:41,300";
    case FormProblem::Rate: return "Fréquence illisible : écrire par exemple 25 ou 23,976";
    case FormProblem::RatesTooFine: return "Fréquences trop précises : écrire par exemple 23,976";
    case FormProblem::SameShown:
        return "Les deux repères doivent être deux sous-titres qui commencent à des temps différents";
    case FormProblem::Reversed: return "Ces repères inverseraient l'ordre des sous-titres";
    case FormProblem::UntilNotAfterFrom: return "« Avant » doit venir après « À partir de »";
    case FormProblem::CuesReversed: return "« jusqu'au n° » doit être au moins « Du n° »";
    case FormProblem::None: break;
    }
    return "";
}

std::string typedText(TypedProblem problem)
{
    switch (problem) {
    case TypedProblem::NotDigit: return "Des chiffres seulement dans le décalage";
    case TypedProblem::Sign:
        return "Pas de signe : « Retirer » fait apparaître les sous-titres plus tôt";
    case TypedProblem::Separator:
        return "Une virgule seulement dans les secondes : 1,5 est 1 s et 500 ms";
    case TypedProblem::SecondSeparator: return "Une seule virgule dans les secondes";
    case TypedProblem::FractionDigits:
        return "Trois chiffres au plus après la virgule : les millisecondes";
    case TypedProblem::TooLarge: return "Décalage trop grand : 5 h 59 min 59,999 s au plus";
    case TypedProblem::None: break;
    }
    return "";
}

std::string previewSummary(const PatchResult& r, HeldEnds ends)
{
    std::int64_t n = r.changedLines;
    std::string text = n == 0
                           ? std::string("Aucun sous-titre ne serait modifié")
                           : count(n, "sous-titre serait modifié", "sous-titres seraient modifiés");
    if (r.clampedTimes > 0)
        text += ", " + count(r.clampedTimes, "temps serait ramené ", "temps seraient ramenés ") +
                heldAt(ends);
    return text;
}

std::string startText(const std::string& line) { return line.substr(0, 12); }

std::string newStartText(const LineChange& c)
{
    std::string text = startText(c.after);
    if (c.held & HeldStart)
        return text + " (ramené)";
    if (c.held & HeldEnd)
        return text + " (fin ramenée)";
    // The line changes, but not where it starts.
    if (text == startText(c.before))
        return text + " (fin seulement)";
    return text;
}

std::string displayText(const std::string& text)
{
    // Subtitles in a Western 8-bit encoding are common; anything else that
    // is not UTF-8 shows with replacement marks.
    gchar* utf8 = g_utf8_validate(text.c_str(), gssize(text.size()), nullptr)
                      ? g_strndup(text.c_str(), text.size())
                      : g_convert(text.c_str(), gssize(text.size()), "UTF-8", "WINDOWS-1252",
                                  nullptr, nullptr, nullptr);
    if (!utf8)
        utf8 = g_utf8_make_valid(text.c_str(), gssize(text.size()));
    gchar** lines = g_strsplit(utf8, "\n", -1);
    gchar* joined = g_strjoinv(" / ", lines);
    std::string shown = joined;
    g_free(joined);
    g_strfreev(lines);
    g_free(utf8);
    return shown;
}

std::string currentText(const Cue& cue)
{
    return "Début actuel : " + formatTime(cue.startMs) + " « " + displayText(cue.text) + " »";
}

std::string changeWords(const ChangeForm& f)
{
    using Kind = ChangeForm::Kind;
    switch (f.kind) {
    case Kind::Offset: return offsetWords(f);
    case Kind::Fps: {
        std::string text = "Conversion " + f.fpsFrom + " → " + f.fpsTo;
        return noOffset(f.offset) ? text : text + " puis " + offsetWords(f);
    }
    case Kind::To: return "Faire commencer le n° " + std::to_string(f.cue[0]) + " à " + f.heard[0];
    case Kind::Sync: break;
    }
    return "Synchroniser n° " + std::to_string(f.cue[0]) + " à " + f.heard[0] + " et n° " +
           std::to_string(f.cue[1]) + " à " + f.heard[1];
}

#ifdef CHRONELLE_HAVE_MATCH

namespace {

std::string soundText(SoundFailure failure)
{
    switch (failure) {
    case SoundFailure::NoAudio:
    case SoundFailure::NoSuchTrack: return "Cette vidéo n'a pas de son (ou pas cette piste audio)";
    case SoundFailure::Decoder: return "Le son de cette vidéo ne peut pas être décodé";
    case SoundFailure::Truncated: return "Vidéo tronquée : le son s'arrête avant la fin";
    case SoundFailure::Stopped: return StoppedText;
    case SoundFailure::NotRegular:
        return "Ce n'est pas un fichier vidéo : un dossier, un tube ou un périphérique";
    case SoundFailure::Open:
    case SoundFailure::None: break;
    }
    return "Vidéo illisible : ce fichier ne peut pas être lu comme une vidéo";
}

std::string minutes(std::int64_t ms) { return count(ms / 60000, "minute", "minutes"); }

// What to try when nothing sure was found: a larger search, another track.
std::string advice(const Heard& heard)
{
    std::string text = " ; essayer une recherche plus large que " + minutes(heard.maxOffsetMs);
    if (heard.tracks > 1)
        text += " ou une autre piste audio (la vidéo en a " + std::to_string(heard.tracks) + ")";
    return text;
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
        return "Erreur : aucun sous-titre à décaler dans ce fichier";
    if (heard.cues != CuesFailure::None)
        return "Erreur : le fichier sous-titres ne peut pas être lu";
    if (heard.found.alignment.fit == Fit::TooLong)
        return "Vidéo plus courte que les sous-titres : aucun décalage trouvé";
    if (heard.found.alignment.fit == Fit::TooFar)
        return "Aucun décalage de moins de " + minutes(heard.maxOffsetMs) + " ne convient" +
               advice(heard);
    return "";
}

// Nothing sure: the best candidate, its rival, and what to try.
std::string doubtText(const Heard& heard)
{
    const Found& f = heard.found;
    std::string text = NoSureText;
    if (!heard.formed)
        return text + advice(heard);
    std::string best = changeWords(heard.form);
    if (f.doubt == Doubt::FewCues)
        return text + " : trop peu de répliques pour juger de « " + best + " »";
    if (f.doubt == Doubt::Cut)
        return text +
               " : la vidéo semble coupée (une scène en moins ou une pause en plus) ; "
               "chronelle-shift --splits la met en phase morceau par morceau";
    if (f.doubt == Doubt::Rival && !heard.rivals.empty())
        return text + " : « " + best + " » ou « " + changeWords(heard.rivals.front()) +
               " » conviennent presque autant" + advice(heard);
    return text + " : le plus proche serait « " + best + " »" + advice(heard);
}

}  // namespace

std::string listeningText(double fraction)
{
    return std::string(stageText(Stage::Listening)) + " " +
           std::to_string(int(std::lround(fraction * 100))) + " %";
}

const char* sureWords(double confidence) { return confidence >= 0.95 ? "très sûr" : "sûr"; }

std::string heardText(const Heard& heard)
{
    std::string unusable = unusableText(heard);
    if (!unusable.empty())
        return unusable;
    const Found& f = heard.found;
    if (!f.sure)
        return doubtText(heard);
    std::string sure = std::string(" (") + sureWords(f.confidence) + ")";
    if (f.kind == ChangeKind::InTime)
        return "Sous-titres déjà synchronisés avec la vidéo" + sure;
    if (!heard.shown)
        return "Décalage trouvé, mais les réglages de la fenêtre ne peuvent pas le contenir";
    return "Décalage trouvé : " + changeWords(heard.form) + sure;
}

#endif

}  // namespace chronelle::ui
