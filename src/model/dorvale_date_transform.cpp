#include "model/dorvale_date_transform.h"

DorvaleDateTransform::DorvaleDateTransform() : DateFormaterTransform(DateFormatter("yyyy-MM-dd HH:mm:ss")) {}
