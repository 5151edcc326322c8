#pragma once
// Resource string ids of the image readers (rows in resources/strings/image.inc).

enum ImageStringId : int {
  IDS_IMAGE_NO_COLON = 23100,          // the line does not begin with ':'
  IDS_IMAGE_BAD_CHECKSUM = 23101,      // record checksum wrong
  IDS_IMAGE_BAD_RECORD_TYPE = 23102,   // %1 = record type
  IDS_IMAGE_LINE_TOO_LONG = 23103,     // %1 = the longest line that fits
  IDS_IMAGE_OUTSIDE_IMAGE = 23104,     // %1 = address, %2 = length, %3 = image size
  IDS_IMAGE_OUTSIDE_REGIONS = 23105,   // %1 = address
  IDS_IMAGE_RECORD_TOO_LONG = 23106,   // %1 = length, %2 = the longest record
  IDS_IMAGE_RECORD_CUT_SHORT = 23107,  // %1 = the bytes the record needs, %2 = the bytes left
  IDS_IMAGE_READ_ERROR = 23108,        // %1 = the system's text
  IDS_IMAGE_CANNOT_OPEN = 23109,       // %1 = the system's text
  IDS_IMAGE_REFUSED = 23110,           // %1 = "FILE:LINE: reason"
  IDS_IMAGE_OPEN_FAILED_BOX = 23111,   // %1 = path, %2 = the system's text
  IDS_IMAGE_OUT_OF_MEMORY = 23112,
  IDS_IMAGE_TOO_MANY_SEGMENTS = 23113,  // %1 = the most segments a load may make
  IDS_IMAGE_NOT_A_FILE = 23114,         // not a regular file: its size is not known before reading
  IDS_IMAGE_NO_END_RECORD = 23710,      // the HEX file ends before its end-of-file record
  IDS_IMAGE_BLANK_BEFORE_END = 23711,   // an empty line before the end-of-file record
  IDS_IMAGE_NO_DATA = 23712,            // nothing to send
  IDS_IMAGE_TOO_LARGE = 23713,          // %1 = the file's size, %2 = the largest taken
  IDS_FILE_NOT_FOUND = 61729,          // %1 = path (program-wide)
};
