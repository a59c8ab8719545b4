// The changes a dry run found, as a table's model that makes each row's
// texts only when the table draws it: a list of 100,000 subtitles costs no
// time to fill, and scrolls as fast as a short one.
#pragma once

#include <gtk/gtk.h>

#include <vector>

#include "cues.h"
#include "patcher.h"

namespace chronelle::ui {

// Its columns, all texts.
enum ChangeColumn { ColumnNumber, ColumnBefore, ColumnAfter, ColumnText, ColumnCount };

// A model of `changes` (taken), with the text of each subtitle from `cues`
// (copied: the file's subtitles may be read again while it is shown).
GtkTreeModel* changesModel(std::vector<LineChange> changes, std::vector<Cue> cues);

// The changes a model made by changesModel shows.
const std::vector<LineChange>& changesOf(GtkTreeModel* model);

}  // namespace chronelle::ui
