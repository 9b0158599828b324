#include "gui/windows/window_main.h"

#include <glib/gi18n.h>

#include <initializer_list>
#include <string>

#include "engine/operation_state.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/placement.h"
#include "gui/windows/widgets.h"

#include "engine/options.h"
#include "image/imagefile.h"

GtkWidget *window_main = nullptr;
GtkWidget *window_connection_settings = nullptr;
GtkWidget *window_format_parameters = nullptr;
GtkWidget *window_application_settings = nullptr;
GtkWidget *window_sector_contents = nullptr;
GtkWidget *progressbar_main = nullptr;

GtkTargetEntry target_list[] = {
    {(gchar *)"text/uri-list", 0, 0},
};
const guint n_targets = G_N_ELEMENTS(target_list);

namespace {

// Window being built: every named widget is registered on it.
GtkWidget *building;
GtkAccelGroup *accel_group;

GtkWidget *reg(GtkWidget *widget, const char *name)
{
    widgets_register(building, widget, name);
    gtk_widget_show(widget);
    return widget;
}

struct accel {
    guint key;
    GdkModifierType mods;
};

GtkWidget *add_menu_item(GtkWidget *menu, const char *name, const char *label, const char *stock,
                         accel a, const char *tooltip, GCallback handler)
{
    GtkWidget *item = gtk_image_menu_item_new_with_mnemonic(label);
    reg(item, name);
    if (stock) {
        GtkWidget *image = gtk_image_new_from_stock(stock, GTK_ICON_SIZE_MENU);
        gtk_widget_show(image);
        gtk_image_menu_item_set_image(GTK_IMAGE_MENU_ITEM(item), image);
    }
    if (a.key)
        gtk_widget_add_accelerator(item, "activate", accel_group, a.key, a.mods,
                                   GTK_ACCEL_VISIBLE);
    if (tooltip)
        gtk_widget_set_tooltip_text(item, tooltip);
    if (handler)
        g_signal_connect(item, "activate", handler, nullptr);
    gtk_container_add(GTK_CONTAINER(menu), item);
    return item;
}

void add_separator(GtkWidget *menu, const char *name)
{
    GtkWidget *sep = reg(gtk_separator_menu_item_new(), name);
    gtk_widget_set_sensitive(sep, FALSE);
    gtk_container_add(GTK_CONTAINER(menu), sep);
}

// A top-level menu: the bar item (with its icon) and its submenu.
GtkWidget *add_menu(GtkWidget *menubar, const char *name, const char *label, const char *stock)
{
    GtkWidget *item;
    if (stock) {
        item = gtk_image_menu_item_new_with_mnemonic(label);
        GtkWidget *image = gtk_image_new_from_stock(stock, GTK_ICON_SIZE_MENU);
        gtk_widget_show(image);
        gtk_image_menu_item_set_image(GTK_IMAGE_MENU_ITEM(item), image);
    } else {
        item = gtk_menu_item_new_with_mnemonic(label);
    }
    reg(item, name);
    gtk_container_add(GTK_CONTAINER(menubar), item);
    GtkWidget *menu = gtk_menu_new();
    std::string menu_name = std::string(name) + "_menu";
    reg(menu, menu_name.c_str());
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
    return menu;
}

GtkWidget *build_menubar(const window_main_menu_row *rows, int n_rows)
{
    GtkWidget *menubar = reg(gtk_menu_bar_new(), "menubar_main");
    GtkWidget *m = nullptr;
    GtkWidget *last_item = nullptr;  // holder of the radio rows that follow
    const char *last_item_name = nullptr;
    GtkWidget *radio_menu = nullptr;
    GtkWidget *last_radio = nullptr;
    for (int i = 0; i < n_rows; i++) {
        const window_main_menu_row &r = rows[i];
        if (r.kind != WINDOW_MAIN_RADIO)
            radio_menu = last_radio = nullptr;
        switch (r.kind) {
        case WINDOW_MAIN_MENU:
            m = add_menu(menubar, r.name, _(r.label), r.stock);
            // A menu's handler runs as it opens, to set what its items may do.
            if (r.handler)
                g_signal_connect(gtk_menu_get_attach_widget(GTK_MENU(m)), "activate", r.handler,
                                 nullptr);
            break;
        case WINDOW_MAIN_ITEM:
            last_item = add_menu_item(m, r.name, _(r.label), r.stock, {r.key, r.mods},
                                      r.tooltip ? _(r.tooltip) : nullptr, r.handler);
            last_item_name = r.name;
            break;
        case WINDOW_MAIN_SEPARATOR:
            add_separator(m, r.name);
            break;
        case WINDOW_MAIN_STOCK: {
            GtkWidget *item = gtk_image_menu_item_new_from_stock(r.label, accel_group);
            reg(item, r.name);
            g_signal_connect(item, "activate", r.handler, nullptr);
            gtk_container_add(GTK_CONTAINER(m), item);
            break;
        }
        case WINDOW_MAIN_RADIO: {
            if (!radio_menu) {
                std::string menu_name = std::string(last_item_name) + "_menu";
                radio_menu = reg(gtk_menu_new(), menu_name.c_str());
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(last_item), radio_menu);
            }
            GtkWidget *radio =
                last_radio ? gtk_radio_menu_item_new_with_mnemonic_from_widget(
                                 GTK_RADIO_MENU_ITEM(last_radio), _(r.label))
                           : gtk_radio_menu_item_new_with_mnemonic(nullptr, _(r.label));
            reg(radio, r.name);
            if (!last_radio)
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(radio), TRUE);
            g_signal_connect(radio, "activate", r.handler, nullptr);
            gtk_container_add(GTK_CONTAINER(radio_menu), radio);
            last_radio = radio;
            break;
        }
        }
    }
    return menubar;
}

// A button holding a stock image and a mnemonic label, as the rest of the
// program expects (the label is looked up and relabelled by name).
GtkWidget *stock_button(const char *name, const char *stock, const char *label,
                        const char *label_name, const char *tooltip)
{
    GtkWidget *button = reg(gtk_button_new(), name);
    GtkWidget *align = gtk_alignment_new(0.5, 0.5, 0, 0);
    gtk_widget_show(align);
    gtk_container_add(GTK_CONTAINER(button), align);
    GtkWidget *hbox = gtk_hbox_new(FALSE, 2);
    gtk_widget_show(hbox);
    gtk_container_add(GTK_CONTAINER(align), hbox);
    gtk_box_pack_start(GTK_BOX(hbox), gtk_image_new_from_stock(stock, GTK_ICON_SIZE_BUTTON),
                       FALSE, FALSE, 0);
    GtkWidget *lbl = reg(gtk_label_new_with_mnemonic(label), label_name);
    gtk_label_set_mnemonic_widget(GTK_LABEL(lbl), button);
    gtk_box_pack_start(GTK_BOX(hbox), lbl, FALSE, FALSE, 0);
    gtk_widget_show_all(hbox);
    gtk_widget_set_tooltip_text(button, tooltip);
    return button;
}

GtkWidget *spin(const char *name, double value, double lo, double hi, double page,
                const char *tooltip)
{
    GtkObject *adj = gtk_adjustment_new(value, lo, hi, 1, page, 0);
    GtkWidget *s = reg(gtk_spin_button_new(GTK_ADJUSTMENT(adj), 1, 0), name);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(s), TRUE);
    gtk_widget_set_tooltip_text(s, tooltip);
    return s;
}

GtkWidget *label(const char *name, const char *text)
{
    return reg(gtk_label_new(text), name);
}

void table_attach(GtkWidget *table, GtkWidget *w, int col, int row, GtkAttachOptions x)
{
    gtk_table_attach(GTK_TABLE(table), w, col, col + 1, row, row + 1, x, (GtkAttachOptions)0, 0,
                     0);
}

GtkWidget *build_imaging_page()
{
    GtkWidget *hbox = reg(gtk_hbox_new(FALSE, 4), "hbox_disk_imaging");
    gtk_container_set_border_width(GTK_CONTAINER(hbox), 4);

    GtkWidget *frame = reg(gtk_frame_new(nullptr), "frame_drawingarea_sectors");
    gtk_box_pack_start(GTK_BOX(hbox), frame, FALSE, FALSE, 0);
    GtkWidget *grid = reg(gtk_drawing_area_new(), "drawingarea_sectors");
    gtk_widget_set_size_request(grid, 420, 252);
    gtk_widget_add_events(grid, GDK_BUTTON_PRESS_MASK);
    gtk_widget_set_tooltip_text(grid, _("Ctrl+click on a sector to display its contents, or "
                                        "within the empty area to change background color"));
    gtk_container_add(GTK_CONTAINER(frame), grid);

    GtkWidget *col = reg(gtk_vbox_new(FALSE, 4), "vbox_disk_imaging_controls");
    gtk_box_pack_start(GTK_BOX(hbox), col, TRUE, TRUE, 0);

    gtk_box_pack_start(GTK_BOX(col),
                       stock_button("button_save_image_to_D64", "gtk-save-as",
                                    _("Warp_save to D64..."), "label_save_image_to_D64",
                                    _("Warpsave a disk image from the selected drive to a D64 file")),
                       FALSE, FALSE, 0);

    GtkWidget *pre = reg(gtk_check_button_new_with_mnemonic(_("Pre-initialize disk")),
                         "checkbutton_pre_initialize_disk");
    gtk_widget_set_tooltip_text(pre, _("If enabled, a disk is initialized ahead of being dumped, "
                                       "thus creating a strong reference for track navigation"));
    gtk_box_pack_start(GTK_BOX(col), pre, FALSE, FALSE, 0);

    GtkWidget *naming = reg(gtk_frame_new(nullptr), "frame_disk_dump_auto_naming");
    gtk_container_set_border_width(GTK_CONTAINER(naming), 4);
    GtkWidget *auto_check = reg(gtk_check_button_new_with_mnemonic(_("Auto naming")),
                                "checkbutton_disk_dump_auto_naming");
    gtk_widget_set_tooltip_text(auto_check,
                                _("If enabled, when dumping a disk, D64 filenames are "
                                  "automatically generated and the save dialog is not used"));
    gtk_frame_set_label_widget(GTK_FRAME(naming), auto_check);
    gtk_box_pack_start(GTK_BOX(col), naming, FALSE, FALSE, 0);
    GtkWidget *nt = reg(gtk_table_new(2, 3, FALSE), "table_disk_dump_auto_naming");
    gtk_table_set_row_spacings(GTK_TABLE(nt), 2);
    gtk_table_set_col_spacings(GTK_TABLE(nt), 4);
    gtk_container_add(GTK_CONTAINER(naming), nt);
    table_attach(nt, label("label_disk_dump_auto_naming_side", _("Side: ")), 0, 0, GTK_FILL);
    GtkWidget *side_a = reg(gtk_radio_button_new_with_mnemonic(nullptr, _("A")),
                            "radiobutton_disk_dump_auto_naming_side_a");
    gtk_widget_set_tooltip_text(side_a, _("Select to flag the next disk dump as Side A"));
    table_attach(nt, side_a, 1, 0, GTK_FILL);
    GtkWidget *side_b = reg(gtk_radio_button_new_with_mnemonic_from_widget(
                                GTK_RADIO_BUTTON(side_a), _("B")),
                            "radiobutton_disk_dump_auto_naming_side_b");
    gtk_widget_set_tooltip_text(side_b, _("Select to flag the next disk dump as Side B"));
    table_attach(nt, side_b, 2, 0, GTK_FILL);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(side_a), TRUE);
    table_attach(nt, label("label_disk_dump_auto_naming_offset", _("Offset: ")), 0, 1, GTK_FILL);
    GtkWidget *offset = spin("spinbutton_disk_dump_auto_naming_offset", 1, 1, 9999, 10,
                             _("Prefix for auto generated filenames "));
    gtk_table_attach(GTK_TABLE(nt), offset, 1, 3, 1, 2,
                     (GtkAttachOptions)(GTK_EXPAND | GTK_FILL), (GtkAttachOptions)0, 0, 0);

    GtkWidget *rt = reg(gtk_table_new(3, 2, FALSE), "table_read_settings");
    gtk_container_set_border_width(GTK_CONTAINER(rt), 2);
    gtk_table_set_row_spacings(GTK_TABLE(rt), 2);
    gtk_table_set_col_spacings(GTK_TABLE(rt), 4);
    gtk_box_pack_start(GTK_BOX(col), rt, FALSE, FALSE, 0);
    struct {
        const char *label_name, *text, *spin_name;
        double value, lo, hi, page;
        const char *tooltip;
    } rows[] = {
        {"label_sector_read_retries", _("Read retries:"), "spinbutton_sector_read_retries", 2,
         (double)options_range_sector_read_retries.low,
         (double)options_range_sector_read_retries.high, 10,
         _("Number of additional times an accessible sector is read from a physical disk if it "
           "contains errors just after being dumped or when re-read")},
        {"label_max_sector_errors", _("Max errors:"), "spinbutton_max_sector_errors", 10,
         (double)options_range_max_sector_errors.low, (double)options_range_max_sector_errors.high,
         10,
         _("When dumping or re-reading a disk, sectors are re-read only if the number of "
           "accessible sectors with errors is lower than or equal to this value")},
        {"label_outmost_track", _("Outermost track:"), "spinbutton_outmost_track", 1,
         (double)options_range_outmost_track.low, (double)options_range_outmost_track.high, 1,
         _("Index of the outermost accessible track: if a disk was written by a drive whose head "
           "stop had been tinkered with, a few tracks might be unreachable on a stock drive")},
    };
    for (int i = 0; i < 3; i++) {
        GtkWidget *l = label(rows[i].label_name, rows[i].text);
        gtk_misc_set_alignment(GTK_MISC(l), 0, 0.5);
        table_attach(rt, l, 0, i, GTK_FILL);
        table_attach(rt,
                     spin(rows[i].spin_name, rows[i].value, rows[i].lo, rows[i].hi, rows[i].page,
                          rows[i].tooltip),
                     1, i, (GtkAttachOptions)(GTK_EXPAND | GTK_FILL));
    }

    GtkWidget *errors = reg(gtk_hbox_new(FALSE, 4), "hbox_sector_errors");
    gtk_box_pack_start(GTK_BOX(col), errors, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(errors), label("label_sector_errors", _("Accessible errors:")),
                       FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(errors), label("label_sector_errors_count", "0"), FALSE, FALSE, 0);

    gtk_box_pack_end(GTK_BOX(col),
                     stock_button("button_load_image_from_D64", "gtk-open",
                                  _("Wa_rpsave to disk..."), "label_load_image_from_D64",
                                  _("Warpsave a disk image from a D64 file to a floppy disk in "
                                    "the selected drive")),
                     FALSE, FALSE, 0);
    return hbox;
}

GtkWidget *build_files_page()
{
    GtkWidget *hbox = reg(gtk_hbox_new(FALSE, 4), "hbox_files_directory");
    gtk_container_set_border_width(GTK_CONTAINER(hbox), 4);

    GtkWidget *frame = reg(gtk_frame_new(nullptr), "frame_drawingarea_directory_listing");
    gtk_box_pack_start(GTK_BOX(hbox), frame, FALSE, FALSE, 0);
    GtkWidget *listing_box = reg(gtk_hbox_new(FALSE, 0), "hbox_directory_listing");
    gtk_container_add(GTK_CONTAINER(frame), listing_box);
    GtkWidget *area = reg(gtk_drawing_area_new(), "drawingarea_directory_listing");
    gtk_widget_set_size_request(area, 448, 256);
    gtk_widget_set_can_focus(area, TRUE);
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK | GDK_SCROLL_MASK);
    gtk_box_pack_start(GTK_BOX(listing_box), area, FALSE, FALSE, 0);
    GtkObject *adj = gtk_adjustment_new(0, 0, 0, 1, 0, 0);
    GtkWidget *scroll = reg(gtk_vscrollbar_new(GTK_ADJUSTMENT(adj)), "vscrollbar_files_directory");
    gtk_box_pack_start(GTK_BOX(listing_box), scroll, FALSE, FALSE, 0);

    GtkWidget *col = reg(gtk_vbox_new(FALSE, 4), "vbox_files_directory_buttons");
    gtk_box_pack_start(GTK_BOX(hbox), col, TRUE, TRUE, 0);
    struct {
        const char *name, *stock, *text, *label_name, *tooltip;
    } buttons[] = {
        {"button_directory", "gtk-find", _("_Directory"), "label_directory",
         _("List directory contents from the disk currently in use")},
        {"button_save_PRG", "gtk-save-as", _("E_xport PRG..."), "label_save_PRG",
         _("Export the selected PRG file")},
        {"button_format_disk", "gtk-new", _("Format disk"), "label_format_disk",
         _("Format a disk using (slow) DOS routines")},
        {"button_validate_disk", "gtk-apply", _("Validate disk"), "label_validate_disk",
         _("Validate a disk")},
        {"button_scratch_file", "gtk-delete", _("Scratch file"), "label_scratch_file",
         _("Delete the selected file")},
        {"button_load_PRG", "gtk-open", _("Import PRG..."), "label_load_PRG",
         _("Import a PRG file into the floppy disk currently in use")},
    };
    for (auto &b : buttons)
        gtk_box_pack_start(GTK_BOX(col),
                           stock_button(b.name, b.stock, b.text, b.label_name, b.tooltip),
                           FALSE, FALSE, 0);
    return hbox;
}

void on_textview_log_map(GtkWidget *view, gpointer)
{
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    GtkTextMark *mark = gtk_text_buffer_get_mark(buffer, "log_end");
    if (mark)
        gtk_text_buffer_move_mark(buffer, mark, &end);
    else
        mark = gtk_text_buffer_create_mark(buffer, "log_end", &end, FALSE);
    // Queued until the view has laid out its lines.
    gtk_text_view_scroll_to_mark(GTK_TEXT_VIEW(view), mark, 0.0, TRUE, 0.0, 1.0);
}

GtkWidget *build_logging_page()
{
    GtkWidget *scrolled = reg(gtk_scrolled_window_new(nullptr, nullptr), "scrolledwindow_log");
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    GtkWidget *text = reg(gtk_text_view_new(), "textview_log");
    // What the operations did, as they said it: shown, selectable, never edited.
    gtk_text_view_set_editable(GTK_TEXT_VIEW(text), FALSE);
    gtk_widget_set_tooltip_text(
        text, _("Logging area: what the operations did; select text to copy it"));
    gtk_container_add(GTK_CONTAINER(scrolled), text);
    // Lines added while another tab was shown could not scroll a hidden view.
    g_signal_connect(text, "map", G_CALLBACK(on_textview_log_map), nullptr);
    return scrolled;
}

GtkWidget *build_status_row()
{
    GtkWidget *row = reg(gtk_hbox_new(FALSE, 2), "hbox_status");
    GtkWidget *status = reg(gtk_statusbar_new(), "statusbar_main");
    gtk_statusbar_set_has_resize_grip(GTK_STATUSBAR(status), FALSE);
    gtk_box_pack_start(GTK_BOX(row), status, TRUE, TRUE, 0);
    GtkWidget *bar = reg(gtk_progress_bar_new(), "progressbar_main");
    gtk_widget_set_size_request(bar, 60, -1);
    gtk_box_pack_start(GTK_BOX(row), bar, FALSE, FALSE, 0);
    GtkWidget *abort = reg(gtk_button_new_with_mnemonic(_("_Abort")), "button_abort_operation");
    gtk_widget_set_sensitive(abort, FALSE);
    gtk_widget_set_tooltip_text(abort, _("Abort the disk operation currently in progress, if any"));
    gtk_box_pack_start(GTK_BOX(row), abort, FALSE, FALSE, 0);
    GtkWidget *drive = reg(gtk_hbox_new(FALSE, 4), "hbox_drive");
    gtk_box_pack_start(GTK_BOX(row), drive, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(drive), label("label_drive", _("Drive:")), FALSE, FALSE, 0);
    GtkWidget *combo = reg(gtk_combo_box_new_text(), "combobox_drive");
    for (const char *n : {"8", "9", "10", "11"})
        gtk_combo_box_append_text(GTK_COMBO_BOX(combo), n);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 0);
    gtk_box_pack_start(GTK_BOX(drive), combo, FALSE, FALSE, 0);
    GtkWidget *icon = reg(gtk_image_new_from_stock("gtk-yes", GTK_ICON_SIZE_BUTTON),
                          "image_overall_status");
    gtk_box_pack_start(GTK_BOX(drive), icon, FALSE, FALSE, 0);
    return row;
}

}  // namespace

GtkWidget *create_window_main(const window_main_menu_row *rows, int n_rows,
                              const window_main_binding *bindings, int n_bindings)
{
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    building = window;
    widgets_register(window, window, "window_main");
    gtk_window_set_title(GTK_WINDOW(window), _("Dravlen client"));
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    accel_group = gtk_accel_group_new();
    gtk_window_add_accel_group(GTK_WINDOW(window), accel_group);
    widgets_register_object(window, G_OBJECT(accel_group), "accel_group_main");
    g_object_unref(accel_group);

    GtkWidget *vbox = reg(gtk_vbox_new(FALSE, 1), "vbox_main");
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 1);
    gtk_container_add(GTK_CONTAINER(window), vbox);
    gtk_box_pack_start(GTK_BOX(vbox), build_menubar(rows, n_rows), FALSE, FALSE, 0);

    GtkWidget *notebook = reg(gtk_notebook_new(), "notebook_main");
    gtk_notebook_set_tab_pos(GTK_NOTEBOOK(notebook), GTK_POS_BOTTOM);
    gtk_box_pack_start(GTK_BOX(vbox), notebook, TRUE, TRUE, 0);
    // The two pages that grow with the zoom scroll on screens too small for them.
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook),
                             reg(placement_view_new(build_imaging_page()),
                                 "scrolledwindow_disk_imaging"),
                             label("label_tab_disk_imaging", _("Disk Imaging")));
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook),
                             reg(placement_view_new(build_files_page()),
                                 "scrolledwindow_files_directory"),
                             label("label_tab_files_directory", _("Files / Directory")));
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook), build_logging_page(),
                             label("label_tab_logging", _("Logging")));

    gtk_box_pack_start(GTK_BOX(vbox), build_status_row(), FALSE, FALSE, 0);

    for (int i = 0; i < n_bindings; i++)
        g_signal_connect(lookup_widget(window, bindings[i].widget), bindings[i].signal,
                         bindings[i].handler, nullptr);
    building = nullptr;
    return window;
}

void window_main_fit_on_screen(void)
{
    if (!window_main)
        return;
    GtkWidget *views[] = {lookup_widget(window_main, "scrolledwindow_disk_imaging"),
                          lookup_widget(window_main, "scrolledwindow_files_directory")};
    placement_fit_views(GTK_WINDOW(window_main), views, 2);
}

void notebook_main_set_page(int page)
{
    gtk_notebook_set_current_page(GTK_NOTEBOOK(lookup_widget(window_main, "notebook_main")), page);
}

void statusbar_main_update(const char *text)
{
    GtkStatusbar *bar = GTK_STATUSBAR(lookup_widget(window_main, "statusbar_main"));
    gtk_statusbar_pop(bar, 0);
    gtk_statusbar_push(bar, 0, text);
}

void window_main_title_update(const char *name)
{
    char *title = g_strdup_printf(_("Dravlen client - %s"), name);
    gtk_window_set_title(GTK_WINDOW(window_main), title);
    g_free(title);
}

void button_warpsave_to_d64_give_focus(void)
{
    gtk_widget_grab_focus(lookup_widget(window_main, "button_save_image_to_D64"));
}

void button_directory_give_focus(void)
{
    gtk_widget_grab_focus(lookup_widget(window_main, "button_directory"));
}

void on_menuitem_view_disk_imaging_tab_activate(GtkMenuItem *, gpointer)
{
    notebook_main_set_page(0);
}

void on_menuitem_view_files_directory_tab_activate(GtkMenuItem *, gpointer)
{
    notebook_main_set_page(1);
}

void on_menuitem_view_logging_tab_activate(GtkMenuItem *, gpointer)
{
    notebook_main_set_page(2);
}

void on_menuitem_select_folder_activate(GtkMenuItem *, gpointer)
{
    if (fileopen_select_folder()) {
        options_save_to_file();
    }
}

char *window_main_drop_file_name(GtkSelectionData *selection)
{
    // Loading resets the image store that a running worker writes into.
    if (operation_is_running())
        return nullptr;
    if (!selection || gtk_selection_data_get_length(selection) < 0 ||
        gtk_selection_data_get_format(selection) != 8)
        return nullptr;
    char **uris = gtk_selection_data_get_uris(selection);
    if (!uris)
        return nullptr;
    char *file_name = uris[0] ? g_filename_from_uri(uris[0], nullptr, nullptr) : nullptr;
    g_strfreev(uris);
    return file_name;
}

void window_main_set_textview_fonts(void)
{
    PangoFontDescription *font = pango_font_description_from_string(
        options_font_description_string ? options_font_description_string : "Monospace 10");
    gtk_widget_modify_font(lookup_widget(window_main, "textview_log"), font);
    pango_font_description_free(font);
}
