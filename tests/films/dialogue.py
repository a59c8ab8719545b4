"""Lines of film dialogue in French and English, drawn from templates so that a
two-hour film rarely says the same thing twice, and laid out as subtitles:
one line, one sentence on two lines, or two speakers after dashes."""

WIDTH = 42  # characters per subtitle line, as subtitlers keep them

FRENCH = {
    "name": ["Marc", "Julie", "Antoine", "Claire", "Hélène", "Paul", "Nadia", "Louis",
             "Sophie", "Karim", "Madame Girard", "commissaire", "docteur", "maman", "papa"],
    "place": ["à la gare", "chez ta sœur", "au bureau", "sur le port", "à l'hôpital",
              "devant l'église", "au café du coin", "dans la cave", "à Marseille", "en bas"],
    "when": ["ce soir", "demain matin", "dans une heure", "tout de suite", "samedi",
             "avant minuit", "la semaine prochaine", "hier soir", "tout à l'heure"],
    "thing": ["les clés", "la lettre", "ton téléphone", "l'argent", "la voiture",
              "les papiers", "ce dossier", "la photo", "mon manteau", "le carnet rouge"],
    "lines": [
        "{name}, tu as vu l'heure ?", "Je ne sais pas où sont {thing}.",
        "On se retrouve {place} {when}.", "Tu crois vraiment qu'il va revenir ?",
        "Arrête, tu me fais peur.", "Qui t'a donné {thing} ?", "Je t'attendrai {place}.",
        "Ce n'est pas ce que tu crois.", "Il faut qu'on parle, {name}.",
        "Tu aurais dû me le dire {when}.", "Personne ne doit savoir.", "Reste ici, je reviens.",
        "Elle est partie {when}, sans un mot.", "Pourquoi tu mens ?", "Donne-moi {thing}.",
        "On n'a plus le temps.", "J'ai trouvé {thing} {place}.", "Tu m'entends ?",
        "C'était il y a longtemps.", "Je ne te laisserai pas tomber.", "Laisse-moi tranquille.",
        "Qu'est-ce que tu fais {place} ?", "Bonsoir {name}.", "Tout va bien se passer.",
        "Il pleut depuis ce matin.", "Tu as faim ?", "Ferme la porte, s'il te plaît.",
        "On part {when}, que tu le veuilles ou non.", "Je l'ai vu {place}.", "Merci, {name}.",
        "Ça ne peut plus durer.", "Et si on avait tort ?", "Je te promets que c'est vrai.",
    ],
    "short": ["Oui.", "Non.", "Pourquoi ?", "Attends.", "D'accord.", "Quoi ?", "Viens.",
              "Jamais.", "Peut-être.", "Vas-y.", "Merci.", "Tais-toi."],
}

ENGLISH = {
    "name": ["Jack", "Emma", "Daniel", "Grace", "Oliver", "Maggie", "Sam", "Lucy",
             "Tom", "Mrs Hale", "Detective", "doctor", "Mum", "Dad", "Henry"],
    "place": ["at the station", "at your sister's", "at the office", "down by the docks",
              "at the hospital", "outside the church", "at the diner", "in the basement",
              "in Boston", "downstairs"],
    "when": ["tonight", "tomorrow morning", "in an hour", "right now", "on Saturday",
             "before midnight", "next week", "last night", "later"],
    "thing": ["the keys", "the letter", "your phone", "the money", "the car",
              "the papers", "that file", "the photo", "my coat", "the red notebook"],
    "lines": [
        "{name}, do you know what time it is?", "I don't know where {thing} are.",
        "Meet me {place} {when}.", "You really think he's coming back?",
        "Stop it, you're scaring me.", "Who gave you {thing}?", "I'll wait for you {place}.",
        "It's not what you think.", "We need to talk, {name}.",
        "You should have told me {when}.", "Nobody can know about this.",
        "Stay here, I'll be right back.", "She left {when} without a word.",
        "Why are you lying to me?", "Give me {thing}.", "We're running out of time.",
        "I found {thing} {place}.", "Can you hear me?", "That was a long time ago.",
        "I won't let you down.", "Leave me alone.", "What are you doing {place}?",
        "Good evening, {name}.", "Everything's going to be fine.", "It's been raining all day.",
        "Are you hungry?", "Close the door, please.", "We leave {when}, like it or not.",
        "I saw him {place}.", "Thank you, {name}.", "This can't go on.",
        "What if we're wrong?", "I swear it's true.",
    ],
    "short": ["Yes.", "No.", "Why?", "Wait.", "All right.", "What?", "Come on.",
              "Never.", "Maybe.", "Go.", "Thanks.", "Quiet."],
}

LANGUAGES = {"fr": FRENCH, "en": ENGLISH}


def sentence(rng, lang):
    """One spoken sentence: a template filled in, or a short answer."""
    pool = LANGUAGES[lang]
    if rng.random() < 0.15:
        return pool["short"][rng.integers(len(pool["short"]))]
    text = pool["lines"][rng.integers(len(pool["lines"]))]
    for slot in ("name", "place", "when", "thing"):
        while "{%s}" % slot in text:
            text = text.replace("{%s}" % slot, pool[slot][rng.integers(len(pool[slot]))], 1)
    return text[0].upper() + text[1:]


def wrap(text):
    """One line, or two split at the space nearest the middle when too long."""
    if len(text) <= WIDTH:
        return [text]
    middle = len(text) // 2
    spaces = [i for i, c in enumerate(text) if c == " "]
    # After a sentence or a comma if one is near the middle, as subtitlers break.
    cut = min(spaces, key=lambda i: abs(i - middle) - (8 if text[i - 1] in ".?!," else 0))
    if max(cut, len(text) - cut - 1) > WIDTH:
        cut = min(spaces, key=lambda i: abs(i - middle))
    return [text[:cut], text[cut + 1:]]


def cue(rng, lang):
    """A cue's lines and what is spoken in it, as (speaker slot, text) in order:
    slot 0 alone, or slots 0 and 1 for an exchange between two speakers."""
    kind = rng.random()
    if kind < 0.2:  # two speakers, one line each
        a, b = sentence(rng, lang), sentence(rng, lang)
        return ["- " + a, "- " + b], [(0, a), (1, b)]
    text = sentence(rng, lang)
    if kind < 0.45:  # a longer speech by one speaker
        text = text + " " + sentence(rng, lang)
    return wrap(text), [(0, text)]
