// Stands in for a folder that holds no sources yet, so that its library exists.
