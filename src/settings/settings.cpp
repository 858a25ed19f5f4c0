#include "settings/settings.h"

#include <cwchar>

uint32_t family_id = 0;
int8_t times = 0;
const char* serial_port = nullptr;
bool use_serial = false;
const wchar_t* sn = nullptr;
wchar_t snx[kSnCapacity];
uint32_t baud_rate = 115200;
const char* input_filename = nullptr;
const char* program_name = "flashdrop.exe";
bool inspect_only = false;
uint32_t uf2_family = 0;
bool uf2_family_given = false;
uint64_t image_address = 0;
bool image_address_given = false;
bool list_only = false;
bool flash_all = false;
const char* drive_name = nullptr;
bool json_output = false;

const char kVersion[] = FLASHDROP_VERSION;

void reset_settings() {
  family_id = 0;
  times = 0;
  serial_port = nullptr;
  use_serial = false;
  sn = nullptr;
  wmemset(snx, L'\0', kSnCapacity);
  baud_rate = 115200;
  input_filename = nullptr;
  program_name = "flashdrop.exe";
  inspect_only = false;
  uf2_family = 0;
  uf2_family_given = false;
  image_address = 0;
  image_address_given = false;
  list_only = false;
  flash_all = false;
  drive_name = nullptr;
  json_output = false;
}
