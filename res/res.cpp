// Anchor of the resource library; the string tables are compiled in as Qt resources.
