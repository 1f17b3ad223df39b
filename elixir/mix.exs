defmodule Wexlo.MixProject do
  use Mix.Project

  @version "0.1.0"
  # Where the project is published; the package's links and docs point here.
  @source_url "https://wexlo.invalid/wexlo"

  def project do
    [
      app: :wexlo,
      version: @version,
      elixir: "~> 1.14",
      start_permanent: Mix.env() == :prod,
      elixirc_paths: elixirc_paths(Mix.env()),
      deps: [],
      description: "A mix release step that packs the release into one executable file.",
      package: package(),
      docs: docs(),
      source_url: @source_url
    ]
  end

  defp elixirc_paths(:test), do: ["lib", "test/support"]
  defp elixirc_paths(_), do: ["lib"]

  def application do
    [extra_applications: []]
  end

  defp package do
    [
      licenses: ["Apache-2.0"],
      links: %{"Source" => @source_url},
      files: ~w(lib mix.exs .formatter.exs README.md LICENSE CHANGELOG.md)
    ]
  end

  # For ex_doc (`mix docs` once it is added as a dev dependency).
  defp docs do
    [
      main: "readme",
      extras: ["README.md", "CHANGELOG.md"],
      source_ref: "v#{@version}",
      source_url: @source_url
    ]
  end
end
