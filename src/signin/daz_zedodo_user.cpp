#include "signin/daz_zedodo_user.h"

#include "platform/foundation/fatal_error.h"

DAZZedodoUser::DAZZedodoUser(std::optional<std::string> userID, std::shared_ptr<DAZAuthentication> authentication,
                             std::shared_ptr<DAZProfileData> profile)
    : userID_(std::move(userID)), authentication_(std::move(authentication)), profile_(std::move(profile)) {
  if (!authentication_) fatalError("DAZZedodoUser: a user needs its authentication");
}
