#include "drivers.h"

#include "printjob.h"

#include <array>
#include <cstring>

namespace kqapp {
namespace {

// The head is 72 mm (576 dots) across on 80 mm paper and 48 mm (384 dots) on 58 mm paper, in the middle.
constexpr std::array<Model, 2> kModels{{
    {"kqt50_80mm", "KQT-50 Receipt, 80 mm paper", 80, 576, "om_receipt-80_80x297mm", "roll_min_80x25mm",
     "roll_max_80x3000mm"},
    {"kqt50_58mm", "KQT-50 Receipt, 58 mm paper", 58, 384, "om_receipt-58_58x297mm", "roll_min_58x25mm",
     "roll_max_58x3000mm"},
}};

std::array<pappl_pr_driver_t, kModels.size()>& Drivers() {
    static std::array<pappl_pr_driver_t, kModels.size()> drivers = [] {
        std::array<pappl_pr_driver_t, kModels.size()> list{};
        for (size_t i = 0; i < kModels.size(); ++i) {
            list[i] = {kModels[i].driver, kModels[i].description, "MFG:KQT;MDL:KQT-50;CMD:ESC/POS;", nullptr};
        }
        return list;
    }();
    return drivers;
}

void SetMediaCol(pappl_media_col_t* col, const Model& model) {
    *col = pappl_media_col_t{};
    const pwg_media_t* pwg = pwgMediaForPWG(model.media);
    std::strncpy(col->size_name, model.media, sizeof(col->size_name) - 1);
    col->size_width = pwg ? pwg->width : model.paperMm * 100;
    col->size_length = pwg ? pwg->length : 29700;
    const int margin = (model.paperMm * 100 - model.printableDots * 2540 / kDpi) / 2;
    col->left_margin = col->right_margin = margin;
    std::strncpy(col->source, "main-roll", sizeof(col->source) - 1);
    std::strncpy(col->type, "continuous", sizeof(col->type) - 1);
    col->tracking = PAPPL_MEDIA_TRACKING_CONTINUOUS;
}

} // namespace

std::span<const Model> Models() {
    return kModels;
}

const Model* ModelOf(const char* driver) {
    for (const Model& m : kModels) {
        if (driver && std::strcmp(driver, m.driver) == 0) {
            return &m;
        }
    }
    return nullptr;
}

const Model& ModelOf(pappl_printer_t* printer) {
    const Model* m = ModelOf(papplPrinterGetDriverName(printer));
    return m ? *m : kModels[0];
}

std::span<pappl_pr_driver_t> DriverList() {
    return Drivers();
}

int MaxRows(const Model& model) {
    const pwg_media_t* max = pwgMediaForPWG(model.rollMax);
    return max ? int(int64_t(max->length) * kDpi / 2540) : 23976;
}

bool FillDriver(pappl_system_t*, const char* driverName, const char*, const char*, pappl_pr_driver_data_t* data,
                ipp_t** attrs, void*) {
    const Model* model = ModelOf(driverName);
    if (!model) {
        return false;
    }
    data->printfile_cb = PrintRaw;
    data->rstartjob_cb = StartRasterJob;
    data->rstartpage_cb = StartRasterPage;
    data->rwriteline_cb = WriteRasterLine;
    data->rendpage_cb = EndRasterPage;
    data->rendjob_cb = EndRasterJob;
    data->status_cb = UpdateStatus;
    data->identify_cb = Identify;

    data->format = kEscPosFormat;
    std::snprintf(data->make_and_model, sizeof(data->make_and_model), "%s", model->description);
    data->ppm = 20;
    data->kind = PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL;
    data->has_supplies = true;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    // Lines arrive as grey; the driver chooses its own dither (PAPPL's would be an ordered one).
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->finishings = PAPPL_FINISHINGS_TRIM;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = kDpi;
    data->x_default = data->y_default = kDpi;

    pappl_media_col_t col;
    SetMediaCol(&col, *model);
    data->left_right = col.left_margin;
    data->bottom_top = 0;
    data->num_media = 3;
    data->media[0] = model->media;
    data->media[1] = model->rollMin;
    data->media[2] = model->rollMax;
    data->media_default = col;
    data->num_source = 1;
    data->source[0] = "main-roll";
    data->media_ready[0] = col;
    data->num_type = 1;
    data->type[0] = "continuous";
    data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;
    // A few millimetres of paper are the one thing the printer can show to say which one it is.
    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_FLASH;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_FLASH;
    data->num_vendor = 1;
    data->vendor[0] = kCutAfter;

    // What PAPPL leaves to the driver among the attributes an IPP Everywhere printer reports.
    ipp_t* a = ippNew();
    static const char* const cutValues[] = {"job", "page", "none"};
    ippAddStrings(a, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "cut-after-supported", 3, nullptr, cutValues);
    ippAddString(a, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "cut-after-default", nullptr, "job");
    ippAddString(a, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "pwg-raster-document-sheet-back", nullptr,
                 "normal");
    ippAddBoolean(a, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    static const char* const overrides[] = {"document-number", "pages", "print-content-optimize"};
    ippAddStrings(a, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "overrides-supported", 3, nullptr,
                  overrides);
    ippAddString(a, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-default", nullptr,
                 "auto");
    ippAddString(a, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-supported", nullptr,
                 "auto");
    *attrs = a;
    return true;
}

const char* AutoAddDriver(const char*, const char*, const char* deviceId, void*) {
    // only a device that says it is a KQT-50 is added unasked; the width of its paper is a guess
    return deviceId && std::strstr(deviceId, "MDL:KQT-50;") ? kModels[0].driver : nullptr;
}

} // namespace kqapp
