// Identifiers: Advanced page host, split, merge and export, delete and edit.
#pragma once
