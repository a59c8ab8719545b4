// The French texts of the outcomes: the bar after a change, a form that
// cannot be read, and the preview.
#include "texts.h"

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

std::string successText(std::int64_t held, HeldEnds ends)
{
    std::string text = StepSucceeded.text;
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

}  // namespace chronelle::ui
