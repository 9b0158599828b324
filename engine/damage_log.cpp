// The damage report of the image in memory as closing lines of the log.
#include "engine/imaging.h"

#include <string>
#include <vector>

#include "image/d64.h"
#include "image/damage.h"

void engine_log_damage_report(const engine_ui *ui, int whole_disk)
{
    if (!ui || !ui->log_line)
        return;
    damage_report report;
    damage_report_make(d64_storage, whole_disk, &report);
    std::vector<std::string> lines;
    damage_report_lines(report, &lines);
    ui->log_line(ui->user, "Damage report\n", 1);
    for (const std::string &line : lines)
        ui->log_line(ui->user, (line + "\n").c_str(), 1);
    if (ui->directory_ready)
        ui->directory_ready(ui->user, ENGINE_SHOW_DAMAGED_FILES);
}
