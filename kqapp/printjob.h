// The drivers' callbacks: raw ESC/POS jobs and raster jobs printed through the print processor, the printer's
// status, and identification.
#pragma once

#include "receipt.h"

#include <pappl/pappl.h>

#include <string>

namespace kqapp {

bool PrintRaw(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
                     const unsigned char* line);
bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool UpdateStatus(pappl_printer_t* printer);
void Identify(pappl_printer_t* printer, pappl_identify_actions_t actions, const char* message);

// The dither a page gets: a threshold for text, graphics and bi-level printing, error diffusion for photos
// (print-content-optimize=photo, or auto for a JPEG), and for auto otherwise each row by its content.
Dither DitherFor(pappl_content_t content, pappl_color_mode_t colorMode, const char* format);
// The value of print-content-optimize for a page: an override of the job's for the page, or the job's.
pappl_content_t ContentFor(pappl_job_t* job, const pappl_pr_options_t* options, unsigned page);
// Where the paper is cut for a job: its cut-after, or the printer's default; finishings=trim asks for a
// cut after the job when neither cuts.
CutAfter CutFor(pappl_job_t* job, const pappl_pr_options_t* options);

// A page of raster lines as PAPPL hands them over (its header), on a model's head.
PageFormat FormatOf(const cups_page_header2_t& header, int printableDots, int maxRows, Dither dither);

// Sends a job through the stand-in spooler's print processor to the job's device, a page of a raster job
// at a time (so that what is held stays within a page), and answers for it to PAPPL. Used by the raster
// callbacks and by the PDF filter.
class RasterJob;
RasterJob* BeginRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool RasterJobPage(RasterJob* raster, const PageFormat& format);
bool RasterJobLine(RasterJob* raster, const uint8_t* line);
bool RasterJobEndPage(RasterJob* raster);
// Ends the job and releases it; false when it did not print whole.
bool FinishRasterJob(RasterJob* raster);

} // namespace kqapp
