// Handlers of menu items and buttons whose jobs are not built yet.  Each
// does nothing; when a job lands, its module defines the handler and the
// placeholder here goes.
#include "ui/handlers.h"

DRAVLEN_MENU_HANDLER(on_menuitem_read_firmware_version_activate)
{
    (void)item;
    (void)data;
}

DRAVLEN_MENU_HANDLER(on_menuitem_reset_into_bootloader_activate)
{
    (void)item;
    (void)data;
}

DRAVLEN_MENU_HANDLER(on_menuitem_update_activate)
{
    (void)item;
    (void)data;
}

DRAVLEN_MENU_HANDLER(on_menuitem_query_error_channel_activate)
{
    (void)item;
    (void)data;
}

DRAVLEN_MENU_HANDLER(on_menuitem_disk_directory_activate)
{
    (void)item;
    (void)data;
}

DRAVLEN_MENU_HANDLER(on_menuitem_format_ii_activate)
{
    (void)item;
    (void)data;
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_1541_drive_rom_activate)
{
    (void)item;
    (void)data;
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_1571_drive_rom_activate)
{
    (void)item;
    (void)data;
}

DRAVLEN_BUTTON_HANDLER(on_button_load_image_from_D64_clicked)
{
    (void)button;
    (void)data;
}

DRAVLEN_BUTTON_HANDLER(on_button_directory_clicked)
{
    (void)button;
    (void)data;
}

DRAVLEN_BUTTON_HANDLER(on_button_save_PRG_clicked)
{
    (void)button;
    (void)data;
}

DRAVLEN_BUTTON_HANDLER(on_button_format_disk_clicked)
{
    (void)button;
    (void)data;
}

DRAVLEN_BUTTON_HANDLER(on_button_validate_disk_clicked)
{
    (void)button;
    (void)data;
}

DRAVLEN_BUTTON_HANDLER(on_button_scratch_file_clicked)
{
    (void)button;
    (void)data;
}

DRAVLEN_BUTTON_HANDLER(on_button_load_PRG_clicked)
{
    (void)button;
    (void)data;
}
