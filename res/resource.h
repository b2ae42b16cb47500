// Numeric identifiers of Orvane's resources, shared by the resource script and src/ui/.
#pragma once
