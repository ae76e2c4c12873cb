// PDF documents: each page drawn in grey with Poppler, as wide as the paper at the printer's resolution, a
// strip at a time, and printed as a raster page.
#pragma once

#include <pappl/pappl.h>

namespace kqapp {

inline constexpr char kPdfFormat[] = "application/pdf";

// PAPPL's filter for application/pdf.
bool FilterPdf(pappl_job_t* job, pappl_device_t* device, void* data);

} // namespace kqapp
