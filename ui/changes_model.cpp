// A flat GtkTreeModel over a vector: a row is its index, its texts are made
// when asked for.
#include "changes_model.h"

#include <string>

#include "texts.h"

namespace chronelle::ui {

namespace {

struct Rows {
    std::vector<LineChange> changes;
    std::vector<Cue> cues;
};

struct ChangesModel {
    GObject parent;
    Rows* rows;
    gint stamp;
};

struct ChangesModelClass {
    GObjectClass parent;
};

void changes_model_tree_model_init(GtkTreeModelIface* iface);

G_DEFINE_TYPE_WITH_CODE(ChangesModel, changes_model, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(GTK_TYPE_TREE_MODEL, changes_model_tree_model_init))

ChangesModel* self(GtkTreeModel* model) { return reinterpret_cast<ChangesModel*>(model); }

gint rowCount(GtkTreeModel* model) { return gint(self(model)->rows->changes.size()); }

gint indexOf(GtkTreeIter* iter) { return GPOINTER_TO_INT(iter->user_data); }

// Points `iter` at row `i`, when there is one.
gboolean pointAt(GtkTreeModel* model, GtkTreeIter* iter, gint i)
{
    if (i < 0 || i >= rowCount(model))
        return FALSE;
    iter->stamp = self(model)->stamp;
    iter->user_data = GINT_TO_POINTER(i);
    return TRUE;
}

GtkTreeModelFlags getFlags(GtkTreeModel*)
{
    return GtkTreeModelFlags(GTK_TREE_MODEL_LIST_ONLY | GTK_TREE_MODEL_ITERS_PERSIST);
}

gint getNColumns(GtkTreeModel*) { return ColumnCount; }

GType getColumnType(GtkTreeModel*, gint) { return G_TYPE_STRING; }

gboolean getIter(GtkTreeModel* model, GtkTreeIter* iter, GtkTreePath* path)
{
    if (gtk_tree_path_get_depth(path) != 1)
        return FALSE;
    return pointAt(model, iter, gtk_tree_path_get_indices(path)[0]);
}

GtkTreePath* getPath(GtkTreeModel*, GtkTreeIter* iter)
{
    return gtk_tree_path_new_from_indices(indexOf(iter), -1);
}

void getValue(GtkTreeModel* model, GtkTreeIter* iter, gint column, GValue* value)
{
    const Rows& rows = *self(model)->rows;
    const LineChange& c = rows.changes[std::size_t(indexOf(iter))];
    std::string text;
    switch (column) {
    case ColumnNumber: text = std::to_string(c.cue); break;
    case ColumnBefore: text = startText(c.before); break;
    case ColumnAfter: text = newStartText(c); break;
    default:
        if (c.cue >= 1 && std::size_t(c.cue) <= rows.cues.size())
            text = displayText(rows.cues[std::size_t(c.cue) - 1].text);
    }
    g_value_init(value, G_TYPE_STRING);
    g_value_set_string(value, text.c_str());
}

gboolean iterNext(GtkTreeModel* model, GtkTreeIter* iter)
{
    return pointAt(model, iter, indexOf(iter) + 1);
}

gboolean iterChildren(GtkTreeModel* model, GtkTreeIter* iter, GtkTreeIter* parent)
{
    return !parent && pointAt(model, iter, 0);
}

gboolean iterHasChild(GtkTreeModel*, GtkTreeIter*) { return FALSE; }

gint iterNChildren(GtkTreeModel* model, GtkTreeIter* iter) { return iter ? 0 : rowCount(model); }

gboolean iterNthChild(GtkTreeModel* model, GtkTreeIter* iter, GtkTreeIter* parent, gint n)
{
    return !parent && pointAt(model, iter, n);
}

gboolean iterParent(GtkTreeModel*, GtkTreeIter*, GtkTreeIter*) { return FALSE; }

void changes_model_tree_model_init(GtkTreeModelIface* iface)
{
    iface->get_flags = getFlags;
    iface->get_n_columns = getNColumns;
    iface->get_column_type = getColumnType;
    iface->get_iter = getIter;
    iface->get_path = getPath;
    iface->get_value = getValue;
    iface->iter_next = iterNext;
    iface->iter_children = iterChildren;
    iface->iter_has_child = iterHasChild;
    iface->iter_n_children = iterNChildren;
    iface->iter_nth_child = iterNthChild;
    iface->iter_parent = iterParent;
}

void changes_model_finalize(GObject* object)
{
    delete reinterpret_cast<ChangesModel*>(object)->rows;
    G_OBJECT_CLASS(changes_model_parent_class)->finalize(object);
}

void changes_model_class_init(ChangesModelClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = changes_model_finalize;
}

void changes_model_init(ChangesModel* model)
{
    model->rows = new Rows;
    model->stamp = g_random_int();
}

}  // namespace

GtkTreeModel* changesModel(std::vector<LineChange> changes, std::vector<Cue> cues)
{
    auto* model = static_cast<ChangesModel*>(g_object_new(changes_model_get_type(), nullptr));
    model->rows->changes = std::move(changes);
    model->rows->cues = std::move(cues);
    return GTK_TREE_MODEL(model);
}

const std::vector<LineChange>& changesOf(GtkTreeModel* model) { return self(model)->rows->changes; }

}  // namespace chronelle::ui
