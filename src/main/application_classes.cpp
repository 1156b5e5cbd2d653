#include "main/application_classes.h"

#include "main/app_delegate.h"
#include "main/storyboards.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/ui_application_main.h"
#include "platform/ui/ui_image.h"

void registerApplicationClasses() {
  registerApplicationDelegateClass<AppDelegate>("AppDelegate");
  registerStartupStoryboard();
  registerMainStoryboard();
  UIImage::setNamedImageLoader(UIImage::directoryLoader(Bundle::mainResourcePath() + "/images"));
}
