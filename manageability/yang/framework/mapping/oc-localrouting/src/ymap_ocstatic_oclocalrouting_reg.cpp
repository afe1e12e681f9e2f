// Registration: describes the plug-in to the mapping framework and opens the
// configuration database connection.
#include "ymap_ocstatic_oclocalrouting.h"

extern "C" int32_t yfw_map_reg_oclocalrouting_conf(yfw_map_reg *reg) {
    strncpy_s(reg->native_ns, YFW_MAP_REG_TEXT, OC_LR_NATIVE_NAMESPACE, YFW_MAP_REG_TEXT);
    strncpy_s(reg->oc_ns, YFW_MAP_REG_TEXT, OC_LR_OC_NAMESPACE, YFW_MAP_REG_TEXT);
    strncpy_s(reg->tree_name, YFW_MAP_REG_TEXT, "OC-LOCALROUTING tree", YFW_MAP_REG_TEXT);
    strncpy_s(reg->native_root, YFW_MAP_REG_TEXT, "router-static", YFW_MAP_REG_TEXT);
    strncpy_s(reg->oc_root, YFW_MAP_REG_TEXT, "local-routes", YFW_MAP_REG_TEXT);

    reg->oc_root_walker = ymap_ox_ocstatic_openconfiglocalrouting_lvla_localroutes;
    reg->native_root_walker = ymap_xo_ocstatic_velmoornatipstaticcfg_lvla_routerstatic;
    reg->first_int = 0;
    reg->second_int = 1;

    return yfw_ipstatic_init();
}
