[inputs: ["{mix,.formatter}.exs", "{config,lib}/**/*.{ex,exs}"]]
