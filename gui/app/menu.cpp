#include "gui/app/menu.h"

#include <gdk/gdkkeysyms.h>
#include <glib/gi18n.h>

#include "gui/app/controls.h"
#include "gui/app/startup.h"
#include "gui/jobs/drive_commands.h"
#include "gui/jobs/drive_files_job.h"
#include "gui/jobs/imaging_job.h"
#include "gui/jobs/maintenance_job.h"
#include "gui/jobs/merge_job.h"
#include "gui/jobs/operation.h"
#include "gui/jobs/rereads_job.h"
#include "gui/jobs/restore_job.h"
#include "gui/jobs/special_dumps_job.h"
#include "gui/jobs/unsaved.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/dirview_panel.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/settings.h"
#include "gui/windows/window_main.h"

namespace {

constexpr GdkModifierType NONE = (GdkModifierType)0;
constexpr GdkModifierType CTRL = GDK_CONTROL_MASK;
constexpr GdkModifierType ALT = GDK_MOD1_MASK;
constexpr GdkModifierType SHIFT = GDK_SHIFT_MASK;
constexpr GdkModifierType CTRL_ALT = (GdkModifierType)(GDK_CONTROL_MASK | GDK_MOD1_MASK);

constexpr window_main_menu_kind MENU = WINDOW_MAIN_MENU;
constexpr window_main_menu_kind ITEM = WINDOW_MAIN_ITEM;
constexpr window_main_menu_kind RADIO = WINDOW_MAIN_RADIO;
constexpr window_main_menu_kind SEPARATOR = WINDOW_MAIN_SEPARATOR;
constexpr window_main_menu_kind STOCK = WINDOW_MAIN_STOCK;

}  // namespace

// kind, widget name, text, icon, accelerator, tooltip, handler
const window_main_menu_row menu_rows[] = {
    {MENU, "menuitem_file", N_("_File"), "gtk-floppy", 0, NONE, nullptr,
     G_CALLBACK(on_menuitem_file_activate)},
    {ITEM, "menuitem_save_image_as", N_("Save image as..."), "gtk-save-as", GDK_s,
     (GdkModifierType)(GDK_CONTROL_MASK | GDK_SHIFT_MASK),
     N_("Save the image in memory, with its log, to a D64 file"),
     G_CALLBACK(on_menuitem_save_image_as_activate)},
    {ITEM, "menuitem_select_folder", N_("Select working folder..."), "gtk-open", GDK_F12, NONE,
     N_("Select the folder where disk images are saved to and loaded from"),
     G_CALLBACK(on_menuitem_select_folder_activate)},
    {ITEM, "menuitem_merge_dump", N_("Merge another dump into this image..."), "gtk-add", 0, NONE,
     N_("Stack another dump of the same disk onto the image in memory, keeping "
        "the best read of every sector"),
     G_CALLBACK(on_menuitem_merge_dump_activate)},
    {SEPARATOR, "separatormenuitem_file", nullptr, nullptr, 0, NONE, nullptr, nullptr},
    // Stock items take text and accelerator from the stock.
    {STOCK, "menuitem_quit", GTK_STOCK_QUIT, nullptr, 0, NONE, nullptr,
     G_CALLBACK(on_menuitem_quit_activate)},

    {MENU, "menuitem_configuration", N_("_Configuration"), "gtk-preferences", 0, NONE, nullptr,
     nullptr},
    {ITEM, "menuitem_connection", N_("C_onnection settings..."), "gtk-network", GDK_o, CTRL,
     N_("Configure connection ports for Dravlen"), G_CALLBACK(on_menuitem_connection_activate)},
    {ITEM, "menuitem_format_parameters", N_("For_mat parameters..."), "gtk-new", GDK_f, CTRL,
     N_("Configure parameters used to format disks"), G_CALLBACK(on_menuitem_format_parameters_activate)},
    {ITEM, "menuitem_application_settings", N_("_Application settings..."), "gtk-edit", GDK_s,
     CTRL, N_("Configure miscellaneous application settings"),
     G_CALLBACK(on_menuitem_application_settings_activate)},
    {ITEM, "menuitem_fonts", N_("_Fonts..."), "gtk-select-font", 0, NONE,
     N_("Configure the fontset used in text areas"), G_CALLBACK(on_menuitem_fonts_activate)},
    // An item without a handler opens a submenu for the radio rows after it.
    {ITEM, "menuitem_zoom", N_("_Zoom"), "gtk-zoom-in", 0, NONE, nullptr, nullptr},
    {RADIO, "menuitem_zoom_2x", N_("_2x"), nullptr, 0, NONE, nullptr,
     G_CALLBACK(on_menuitem_zoom_2x_activate)},
    {RADIO, "menuitem_zoom_4x", N_("_4x"), nullptr, 0, NONE, nullptr,
     G_CALLBACK(on_menuitem_zoom_4x_activate)},

    {MENU, "menuitem_view", N_("View"), "gtk-zoom-fit", 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_view_disk_imaging_tab", N_("View disk imaging tab"), "gtk-harddisk", GDK_1,
     ALT, nullptr, G_CALLBACK(on_menuitem_view_disk_imaging_tab_activate)},
    {ITEM, "menuitem_view_files_directory_tab", N_("View files / directory tab"), "gtk-directory",
     GDK_2, ALT, nullptr, G_CALLBACK(on_menuitem_view_files_directory_tab_activate)},
    {ITEM, "menuitem_view_logging_tab", N_("View logging tab"), "gtk-file", GDK_3, ALT, nullptr,
     G_CALLBACK(on_menuitem_view_logging_tab_activate)},

    {MENU, "menuitem_firmware", N_("Firm_ware"), "gtk-media-record", 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_read_firmware_version", N_("Read firmware _version"), "gtk-find", GDK_v, CTRL,
     N_("Query the version of the firmware currently running on the Dravlen hardware"),
     G_CALLBACK(on_menuitem_read_firmware_version_activate)},
    {ITEM, "menuitem_reset_into_bootloader", N_("_Reset into bootloader"), "gtk-execute", GDK_r,
     CTRL_ALT, N_("Reset the Dravlen hardware allowing the discovery of the bootloader port"),
     G_CALLBACK(on_menuitem_reset_into_bootloader_activate)},
    {ITEM, "menuitem_update", N_("_Update firmware"), "gtk-refresh", GDK_u, CTRL_ALT,
     N_("Update the Dravlen firmware with the version that was developed and tested "
        "in conjunction with this version of the client"),
     G_CALLBACK(on_menuitem_update_activate)},

    {MENU, "menuitem_tools", N_("_Tools"), "gtk-execute", 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_initialize", N_("_Initialize disk"), "gtk-yes", GDK_i, CTRL,
     N_("Clear the error channel and force the DOS to read the disk ID and the "
        "contents of the BAM, storing these in the drive's RAM"),
     G_CALLBACK(on_menuitem_initialize_activate)},
    {ITEM, "menuitem_query_error_channel", N_("Query _error channel"), "gtk-dialog-question",
     GDK_e, CTRL, N_("Query the error channel of the selected drive"),
     G_CALLBACK(on_menuitem_query_error_channel_activate)},
    {SEPARATOR, "separatormenuitem_tools_grid", nullptr, nullptr, 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_export_sector_grid_to_png", N_("Export sector grid to PNG..."), "gtk-save-as",
     GDK_F6, SHIFT, N_("Export sector grid contents to a PNG image"),
     G_CALLBACK(on_menuitem_export_sector_grid_to_png_activate)},
    {SEPARATOR, "separatormenuitem_tools_directory", nullptr, nullptr, 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_disk_directory", N_("Disk _directory"), "gtk-index", GDK_F7, NONE,
     N_("List directory contents from the disk currently in use"),
     G_CALLBACK(on_menuitem_disk_directory_activate)},
    {ITEM, "menuitem_export_directory_to_png", N_("Export directory to PNG..."), "gtk-save-as",
     GDK_F7, SHIFT, N_("Export in-memory directory contents to a PNG image"),
     G_CALLBACK(on_menuitem_export_directory_to_png_activate)},
    {SEPARATOR, "separatormenuitem_tools_reset", nullptr, nullptr, 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_reset_drive", N_("_Reset drive (soft)"), "gtk-execute", GDK_r, CTRL,
     N_("Soft reset the selected drive (through the \"UJ:\" command)"),
     G_CALLBACK(on_menuitem_reset_drive_activate)},
    {ITEM, "menuitem_reset_the_iec_bus", N_("Reset the IEC _bus (hard)"), "gtk-execute", GDK_b,
     CTRL, N_("Hard reset the IEC bus by pulling the reset line down for 20 ms"),
     G_CALLBACK(on_menuitem_reset_the_iec_bus_activate)},
    {SEPARATOR, "separatormenuitem_tools_format", nullptr, nullptr, 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_format_ii", N_("_Format II"), "gtk-new", GDK_f, CTRL_ALT,
     N_("Fast format the disk in the selected drive with the Format II code of "
        "the device"),
     G_CALLBACK(on_menuitem_format_ii_activate)},
    {SEPARATOR, "separatormenuitem_tools_rom", nullptr, nullptr, 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_dump_1541_drive_rom", N_("Dump 15_41 drive ROM..."), "gtk-save-as", GDK_4,
     CTRL_ALT, N_("Dump a 1541 drive's ROM ($C000-$FFFF) to file"),
     G_CALLBACK(on_menuitem_dump_1541_drive_rom_activate)},
    {ITEM, "menuitem_dump_1571_drive_rom", N_("Dump 15_71 drive ROM..."), "gtk-save-as", GDK_7,
     CTRL_ALT, N_("Dump a 1571 drive's ROM ($8000-$FFFF) to file"),
     G_CALLBACK(on_menuitem_dump_1571_drive_rom_activate)},

    {MENU, "menuitem_special_dumps", N_("_Special"), "gtk-convert", 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_dump_the_whole_disk", N_("Warpsave the whole disk"), "gtk-save-as", GDK_F1,
     NONE, N_("Warpsave a disk image from the selected drive to a D64 file"),
     G_CALLBACK(on_menuitem_dump_the_whole_disk_activate)},
    {ITEM, "menuitem_dump_track_18_only", N_("Dump dir track only"), "gtk-save-as", GDK_F2, NONE,
     N_("Dump sectors in track 18 (dir track) only"),
     G_CALLBACK(on_menuitem_dump_track_18_only_activate)},
    {ITEM, "menuitem_dump_track_18_and_first_sector", N_("Dump dir track and first sector"),
     "gtk-save-as", GDK_F3, NONE,
     N_("Dump sectors in track 18 (dir track) and the first sector of each PRG file "
        "file that's part of the directory listing"),
     G_CALLBACK(on_menuitem_dump_track_18_and_first_sector_activate)},
    {ITEM, "menuitem_dump_bam_based", N_("Dump based on BAM contents"), "gtk-save-as", GDK_F4,
     NONE, N_("Dump only sectors that are allocated, according to BAM contents"),
     G_CALLBACK(on_menuitem_dump_bam_based_activate)},
    {SEPARATOR, "separatormenuitem_special_rereads", nullptr, nullptr, 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_load_d64_file_for_rereads", N_("Load D64 file for re-reads..."), "gtk-open",
     GDK_F5, NONE, N_("Select a disk image for re-reading sectors with errors"),
     G_CALLBACK(on_menuitem_load_d64_file_for_rereads_activate)},
    {ITEM, "menuitem_reread_all_sectors", N_("Re-read all sectors with errors"), "gtk-refresh",
     GDK_F1, SHIFT, N_("Re-read all accessible sectors with errors"),
     G_CALLBACK(on_menuitem_reread_all_sectors_activate)},
    {ITEM, "menuitem_reread_dir_track", N_("Re-read sectors with errors in dir track"),
     "gtk-refresh", GDK_F2, SHIFT, N_("Re-read all sectors with errors in track 18 (dir track)"),
     G_CALLBACK(on_menuitem_reread_dir_track_activate)},
    {ITEM, "menuitem_reread_dir_track_and_first_sector",
     N_("Re-read dir track and first sector (alpha)"), "gtk-refresh", GDK_F3, SHIFT,
     N_("Re-read all sectors with errors in track 18 (dir track) and the first sector "
        "of each PRG file that's part of the directory listing"),
     G_CALLBACK(on_menuitem_reread_dir_track_and_first_sector_activate)},
    {ITEM, "menuitem_reread_based_on_bam_contents", N_("Re-read based on BAM contents"),
     "gtk-refresh", GDK_F4, SHIFT,
     N_("Re-read all sectors with errors and that are allocated, according to BAM "
        "contents"),
     G_CALLBACK(on_menuitem_reread_based_on_bam_contents_activate)},
    {ITEM, "menuitem_reread_track_range", N_("Re-read sectors with errors in track range"),
     "gtk-refresh", GDK_F5, SHIFT, N_("Re-read all sectors with errors in a track range"),
     G_CALLBACK(on_menuitem_reread_track_range_activate)},
    {SEPARATOR, "separatormenuitem_special_verify", nullptr, nullptr, 0, NONE, nullptr, nullptr},
    {ITEM, "menuitem_verify_disk_against_image", N_("Verify disk against image"), "gtk-find", 0,
     NONE,
     N_("Read the disk in the selected drive and compare every sector with the "
        "image in memory"),
     G_CALLBACK(on_menuitem_verify_disk_against_image_activate)},

    {MENU, "menuitem_help", N_("_Help"), "gtk-help", 0, NONE, nullptr, nullptr},
    {STOCK, "menuitem_about", GTK_STOCK_ABOUT, nullptr, 0, NONE, nullptr,
     G_CALLBACK(on_menuitem_about_activate)},
};
const int menu_row_count = G_N_ELEMENTS(menu_rows);

// The window's buttons and its own signals, by widget name.
const window_main_binding menu_bindings[] = {
    {"button_save_image_to_D64", "clicked", G_CALLBACK(on_button_save_image_to_D64_clicked)},
    {"checkbutton_disk_dump_auto_naming", "toggled",
     G_CALLBACK(on_checkbutton_disk_dump_auto_naming_toggled)},
    {"button_load_image_from_D64", "clicked", G_CALLBACK(on_button_load_image_from_D64_clicked)},
    {"button_directory", "clicked", G_CALLBACK(on_button_directory_clicked)},
    {"button_save_PRG", "clicked", G_CALLBACK(on_button_save_PRG_clicked)},
    {"button_format_disk", "clicked", G_CALLBACK(on_button_format_disk_clicked)},
    {"button_validate_disk", "clicked", G_CALLBACK(on_button_validate_disk_clicked)},
    {"button_scratch_file", "clicked", G_CALLBACK(on_button_scratch_file_clicked)},
    {"button_load_PRG", "clicked", G_CALLBACK(on_button_load_PRG_clicked)},
    {"button_abort_operation", "clicked", G_CALLBACK(on_button_abort_operation_clicked)},
    {"window_main", "delete_event", G_CALLBACK(on_window_main_delete_event)},
    {"window_main", "drag_data_received", G_CALLBACK(on_window_main_drag_data_received)},
};
const int menu_binding_count = G_N_ELEMENTS(menu_bindings);
