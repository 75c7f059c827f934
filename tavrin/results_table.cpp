#include "results_table.h"

namespace flux {

void write_results_heading(OutputFile* file) {
    static const Layout heading = parse_layout(
        "\"        TIME   X-VEL   Y-VEL   Z-VEL   Z-STD     MAG MAG-STD   DIR      O2  O2-STD   FLUX-L   FLUX-R"
        "   LINMIN   RUNMIN   LINMAX   RUNMAX    SLMIN SRMIN SLMAX SRMAX\"");
    write_fields(file, heading, nullptr, 0);
}

void write_results_row(OutputFile* file, const IntervalStats& s, const IntervalFluxes& f) {
    static const Layout row = parse_layout(
        "F12.4,1X,F7.3,1X,F7.3,1X,F7.3,1X,F7.3,1X,F7.3,1X,F7.3,1X,F5.1,1X,F7.3,1X,F7.3,"
        "1X,F8.2,1X,F8.2,1X,F8.2,1X,F8.2,1X,F8.2,1X,F8.2,1X,F8.2,1X,F5.2,1X,F5.2,1X,F5.2");
    const double z_std = checked_sqrt(s.var_z) * 100.0;
    const double speed_std = checked_sqrt(s.var_speed) * 100.0;
    const double o2_std = checked_sqrt(s.var_o2);
    const FieldValue values[20] = {
        real_value(s.interval_mean_time), real_value(s.mean_x * 100.0), real_value(s.mean_y * 100.0),
        real_value(s.mean_z * 100.0),     real_value(z_std),            real_value(s.mag * 100.0),
        real_value(speed_std),            real_value(s.dir),            real_value(s.mean_o2),
        real_value(o2_std),               real_value(f.flux_linear),    real_value(f.flux_running),
        real_value(f.lin_min),            real_value(f.run_min),        real_value(f.lin_max),
        real_value(f.run_max),            real_value(f.shift_lin_min),  real_value(f.shift_run_min),
        real_value(f.shift_lin_max),      real_value(f.shift_run_max),
    };
    write_fields(file, row, values, 20);
}

}  // namespace flux
