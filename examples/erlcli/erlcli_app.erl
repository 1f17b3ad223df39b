%%% A command-line tool and a service in one application: the launcher
%%% hands it the user's arguments, which init:get_plain_arguments/0 returns.
%%% `erlcli serve` keeps running (a service) until it is stopped, e.g. by
%%% SIGTERM, which runs stop/1; `erlcli exit N` ends with status N; any other
%%% arguments are printed back, one a line.
-module(erlcli_app).

-behaviour(application).

-export([start/2, stop/1]).

start(_StartType, _StartArgs) ->
    case init:get_plain_arguments() of
        ["serve"] ->
            io:format("erlcli serving~n"),
            erlcli_sup:start_link();
        ["exit", Status] ->
            erlang:halt(list_to_integer(Status));
        Args ->
            io:format("argc=~b~n", [length(Args)]),
            [io:format("arg=<~ts>~n", [Arg]) || Arg <- Args],
            erlang:halt(0)
    end.

stop(_State) ->
    io:format("erlcli stopped~n"),
    ok.
