// PLACEHOLDER: keeps the library non-empty until the host lands.
