// Identifiers: Easy mode, shell tasks, configuration editor, preferences, about box.
#pragma once
