// The update description's mode: install or update, and the word for it.
#include "settings/settings.h"

void SetDescriptionMode(UpdateDescription& description, int32_t modeValue) {
  description.modeFlag = modeValue != 0 ? 1 : 0;
  CopyText(description.modeText, sizeof description.modeText, description.modeFlag ? "インストール" : "アップデート");
}
